#include "tools/horavo-setup/SetupCommandLine.h"

#include <cmath>

#include "rules/DateText.h"
#include "rules/Version.h"

namespace setup {

namespace {

const QStringList kCreateOptions{QStringLiteral("--file"), QStringLiteral("--database"), QStringLiteral("--admin"),
                                 QStringLiteral("--password"), QStringLiteral("--password-stdin"), QStringLiteral("--isp-account"),
                                 QStringLiteral("--isp-password"), QStringLiteral("--isp-password-stdin"), QStringLiteral("--price"),
                                 QStringLiteral("--seat-role")};
const QStringList kAddAdminOptions{QStringLiteral("--file"), QStringLiteral("--database"), QStringLiteral("--admin"),
                                   QStringLiteral("--password"), QStringLiteral("--password-stdin")};
const QStringList kBackupOptions{QStringLiteral("--file"), QStringLiteral("--database"), QStringLiteral("--force")};
const QStringList kReportOptions{QStringLiteral("--file"), QStringLiteral("--database"), QStringLiteral("--from"),
                                 QStringLiteral("--to"), QStringLiteral("--user"), QStringLiteral("--format"),
                                 QStringLiteral("--price"), QStringLiteral("--bom"),
                                 QStringLiteral("--by"), QStringLiteral("--exact")};
const QStringList kDatabaseOnly{QStringLiteral("--file"), QStringLiteral("--database")};
const QStringList kNoOptions;
// Options that take no value.
const QStringList kFlags{QStringLiteral("--force"), QStringLiteral("--bom"), QStringLiteral("--exact"), QStringLiteral("--password-stdin"),
                         QStringLiteral("--isp-password-stdin")};

const QStringList& optionsOf(SetupRequest::Command command)
{
    switch (command) {
    case SetupRequest::Command::Create:
        return kCreateOptions;
    case SetupRequest::Command::AddAdmin:
        return kAddAdminOptions;
    case SetupRequest::Command::Backup:
        return kBackupOptions;
    case SetupRequest::Command::Report:
        return kReportOptions;
    case SetupRequest::Command::Copy:
        return kNoOptions; // FROM and TO name both databases
    default:
        return kDatabaseOnly;
    }
}

// A date as the usage rows store it, and a real one.
std::optional<QString> storedDate(const QString& text)
{
    if (!horavo::isStoredDate(text))
        return std::nullopt;
    return text;
}

// The words of the command line that are no option: backup's FILE, copy's FROM and TO.
bool takePositional(SetupRequest& r, const QString& word, QStringList& seen)
{
    if (r.command == SetupRequest::Command::Backup && !seen.contains(QStringLiteral("FILE"))) {
        seen << QStringLiteral("FILE");
        r.target = word;
        return true;
    }
    if (r.command == SetupRequest::Command::Copy) {
        for (const auto& [name, field] : {std::pair{QStringLiteral("FROM"), &r.source}, std::pair{QStringLiteral("TO"), &r.target}}) {
            if (!seen.contains(name)) {
                seen << name;
                *field = word;
                return true;
            }
        }
    }
    return false;
}

ParsedCommandLine failure(const QString& message)
{
    ParsedCommandLine parsed;
    parsed.error = message;
    return parsed;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    ParsedCommandLine parsed;
    SetupRequest& r = parsed.request;
    const auto isHelp = [](const QString& argument) {
        return argument == QStringLiteral("--help") || argument == QStringLiteral("-h");
    };
    if (arguments.isEmpty())
        return failure(QStringLiteral("缺少命令：create、add-admin、backup、report、check、online 或 copy"));

    const QString& command = arguments.front();
    if (isHelp(command))
        return parsed; // Help
    if (command == QStringLiteral("--version")) {
        r.command = SetupRequest::Command::Version;
        return parsed;
    }
    if (command == QStringLiteral("create"))
        r.command = SetupRequest::Command::Create;
    else if (command == QStringLiteral("add-admin"))
        r.command = SetupRequest::Command::AddAdmin;
    else if (command == QStringLiteral("backup"))
        r.command = SetupRequest::Command::Backup;
    else if (command == QStringLiteral("report"))
        r.command = SetupRequest::Command::Report;
    else if (command == QStringLiteral("check"))
        r.command = SetupRequest::Command::Check;
    else if (command == QStringLiteral("online"))
        r.command = SetupRequest::Command::Online;
    else if (command == QStringLiteral("copy"))
        r.command = SetupRequest::Command::Copy;
    else
        return failure(QStringLiteral("未知的命令“%1”：应为 create、add-admin、backup、report、check、online 或 copy").arg(command));
    const QStringList& allowed = optionsOf(r.command);
    const bool administers = r.command != SetupRequest::Command::Create && r.command != SetupRequest::Command::AddAdmin;

    QStringList seen;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments[i];
        std::optional<QString> value;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); name.startsWith(QStringLiteral("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        }
        if (isHelp(name)) {
            parsed.request = SetupRequest{};
            return parsed;
        }
        if (!name.startsWith(QLatin1Char('-')) || name == QStringLiteral("-")) {
            if (takePositional(r, arguments[i], seen))
                continue;
            return failure(QStringLiteral("多余的参数“%1”").arg(name));
        }
        if (!allowed.contains(name))
            return failure(QStringLiteral("%1 命令没有选项“%2”").arg(command, name));
        if (seen.contains(name))
            return failure(QStringLiteral("选项 %1 给了两次").arg(name));
        seen << name;
        if (kFlags.contains(name)) {
            if (value)
                return failure(QStringLiteral("选项 %1 不带值").arg(name));
            if (name == QStringLiteral("--force"))
                r.force = true;
            else if (name == QStringLiteral("--bom"))
                r.bom = true;
            else if (name == QStringLiteral("--exact"))
                r.exact = true;
            else if (name == QStringLiteral("--password-stdin"))
                r.passwordFromInput = true;
            else
                r.ispPasswordFromInput = true;
            continue;
        }
        if (!value) {
            if (i + 1 >= arguments.size())
                return failure(QStringLiteral("选项 %1 后面缺少值").arg(name));
            value = arguments[++i];
        }

        if (name == QStringLiteral("--file"))
            r.file = *value;
        else if (name == QStringLiteral("--database"))
            r.database = *value;
        else if (name == QStringLiteral("--admin"))
            r.admin = *value;
        else if (name == QStringLiteral("--password"))
            r.password = *value;
        else if (name == QStringLiteral("--isp-account"))
            r.ispAccount = *value;
        else if (name == QStringLiteral("--isp-password"))
            r.ispPassword = *value;
        else if (name == QStringLiteral("--seat-role"))
            r.seatRole = *value;
        else if (name == QStringLiteral("--price")) {
            bool ok = false;
            const double price = value->trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(price) || price <= 0)
                return failure(QStringLiteral("--price 须是大于 0 的数字（元/小时），“%1”不行").arg(*value));
            r.price = price;
        } else if (name == QStringLiteral("--from") || name == QStringLiteral("--to")) {
            const std::optional<QString> date = storedDate(*value);
            if (!date)
                return failure(QStringLiteral("%1 须是 YYYY-MM-DD 格式的有效日期，“%2”不行").arg(name, *value));
            (name == QStringLiteral("--from") ? r.from : r.to) = date;
        } else if (name == QStringLiteral("--user")) {
            r.user = *value;
        } else if (name == QStringLiteral("--format")) {
            if (*value == QStringLiteral("table"))
                r.format = SetupRequest::Format::Table;
            else if (*value == QStringLiteral("csv"))
                r.format = SetupRequest::Format::Csv;
            else if (*value == QStringLiteral("json"))
                r.format = SetupRequest::Format::Json;
            else if (*value == QStringLiteral("html"))
                r.format = SetupRequest::Format::Html;
            else
                return failure(QStringLiteral("--format 须是 table、csv、json 或 html，“%1”不行").arg(*value));
        } else if (name == QStringLiteral("--by")) {
            if (*value == QStringLiteral("user"))
                r.by = SetupRequest::Grouping::User;
            else if (*value == QStringLiteral("day"))
                r.by = SetupRequest::Grouping::Day;
            else
                return failure(QStringLiteral("--by 须是 user 或 day，“%1”不行").arg(*value));
        }
    }

    if (r.file.isEmpty() && seen.contains(QStringLiteral("--file")))
        return failure(QStringLiteral("--file 的路径不能是空的"));
    if (r.database.trimmed().isEmpty() && seen.contains(QStringLiteral("--database")))
        return failure(QStringLiteral("--database 的地址不能是空的"));
    if (seen.contains(QStringLiteral("--file")) && seen.contains(QStringLiteral("--database")))
        return failure(QStringLiteral("--file 和 --database 只能给一个：数据库要么是文件，要么在服务器上"));
    if (r.command == SetupRequest::Command::Copy) {
        if (r.source.isEmpty() || r.target.isEmpty())
            return failure(QStringLiteral("copy 需要两个数据库：FROM（复制哪个）和 TO（复制到哪里）"));
        return parsed;
    }
    if (administers) {
        if (r.command == SetupRequest::Command::Backup && r.target.isEmpty())
            return failure(QStringLiteral("backup 缺少副本的文件名 FILE"));
        if (r.from && r.to && *r.from > *r.to)
            return failure(QStringLiteral("--from %1 在 --to %2 之后").arg(*r.from, *r.to));
        if (r.bom && r.format != SetupRequest::Format::Csv)
            return failure(QStringLiteral("--bom 只能与 --format csv 一起用"));
        return parsed;
    }

    if (!seen.contains(QStringLiteral("--admin")))
        return failure(QStringLiteral("缺少 --admin：第一个管理员的用户名"));
    if (r.admin.isEmpty())
        return failure(QStringLiteral("--admin 的用户名不能是空的"));
    for (const auto& [onTheLine, fromInput] : {std::pair{QStringLiteral("--password"), QStringLiteral("--password-stdin")},
                                              std::pair{QStringLiteral("--isp-password"), QStringLiteral("--isp-password-stdin")}}) {
        if (seen.contains(onTheLine) && seen.contains(fromInput))
            return failure(QStringLiteral("%1 和 %2 只能给一个").arg(onTheLine, fromInput));
    }
    if (!r.ispAccount && (r.ispPassword || r.ispPasswordFromInput || r.price))
        return failure(QStringLiteral("--isp-password、--isp-password-stdin 和 --price 只能与 --isp-account 一起用"));
    if (r.ispAccount && r.ispAccount->isEmpty())
        return failure(QStringLiteral("--isp-account 的帐号不能是空的"));
    return parsed;
}

QString versionText()
{
    return QStringLiteral("horavo-setup ") + horavo::version();
}

QString helpText()
{
    return QStringLiteral(
        "用法：\n"
        "  horavo-setup create [--file PATH | --database ADDRESS] --admin NAME [--password-stdin]\n"
        "                      [--isp-account NAME [--isp-password-stdin] [--price N]]\n"
        "                      [--seat-role NAME]\n"
        "  horavo-setup add-admin [--file PATH | --database ADDRESS] --admin NAME [--password-stdin]\n"
        "  horavo-setup backup [--file PATH | --database ADDRESS] [--force] FILE\n"
        "  horavo-setup report [--file PATH | --database ADDRESS] [--from DATE] [--to DATE]\n"
        "                      [--user NAME] [--by user|day] [--format table|csv|json|html] [--bom]\n"
        "                      [--price N] [--exact]\n"
        "  horavo-setup check [--file PATH | --database ADDRESS]\n"
        "  horavo-setup online [--file PATH | --database ADDRESS]\n"
        "  horavo-setup copy FROM TO\n"
        "  horavo-setup --help | --version\n"
        "\n"
        "数据库是一个 SQLite 文件，或 PostgreSQL 服务器上的一个数据库。用哪个：--file 给出的文件；\n"
        "--database 给出的地址；都没有给时，用设置（与 tallyon、signova 相同）：环境变量\n"
        "HORAVO_ADMIN_DATABASE、HORAVO_DATABASE，设置文件 /etc/horavo/horavo.conf 的\n"
        "admin-database、database，先有的先用；都没有时用当前文件夹里的 horavo.mdb。\n"
        "\n"
        "create     新建数据库（三个表 users、internet、knumber），写入第一个管理员（权限 1），\n"
        "           如给了 --isp-account，再写入一个标为“使用”的宽带帐号。已有的文件不会改动；\n"
        "           服务器上的数据库须还没有这三个表中的任何一个。数据库文件里有所有的密码：\n"
        "           在组文件夹（设了 setgid 位的文件夹，例如 /var/lib/horavo）里它是 0660，\n"
        "           只有文件夹所属组的成员可以读写；在别的文件夹里是 0600，只有自己可以读写，\n"
        "           与 umask 无关。\n"
        "add-admin  在已有的数据库里添加一个管理员（权限 1），例如所有管理员都被删掉之后。\n"
        "backup     把数据库文件备份到 FILE：用 SQLite 的在线备份分步复制，程序照常计时和写入；\n"
        "           副本包含备份开始前写入的全部记录，通过完整性检查，用回滚日志。\n"
        "           副本是 0600，只有自己可以读写。\n"
        "           FILE 已存在时不覆盖，除非加 --force。只用于数据库文件：服务器上的数据库\n"
        "           请用服务器自己的 pg_dump 备份。\n"
        "report     每个用户在一段期间内的使用：记录数、分钟、小时和金额（单价 × 分钟 / 60，\n"
        "           双精度计算，数字格式同窗口）。期间默认是本月 1 日到今天（含两端）。\n"
        "           单价默认同窗口：第一个标为“使用”的宽带帐号的单价，不大于 0 或为空按 0.3。\n"
        "           日期无法识别的记录单列一行（不分期间）。文件和服务器上的结果相同。\n"
        "           金额默认按分取整：由准确的金额（单价 × 分钟 / 60）四舍五入，远离零，写两位小数；\n"
        "           合计也由合计的分钟算出，不是各行取整后的和。期间和单价写在每种格式的开头\n"
        "           （CSV 在每条记录的最后三列）。html 是一个可以打印、交给用户的网页：表格和每天\n"
        "           使用分钟的柱状图，不连网络，没有脚本。在终端上，读很多记录时标准错误上有进度行。\n"
        "check      只读地检查整个数据库，窗口会拒绝或读错的每一行记录列一行：表、rowid\n"
        "           （服务器上是 horavo_key）、各列的值（密码只显示为 ***）和原因；另查重名用户、\n"
        "           没有管理员、没有标为“使用”的帐号。文件和服务器都可以。标准错误是终端时，\n"
        "           上面有一行进度。\n"
        "online     现在谁在计时。由使用记录推断：最后写入（xtime，跨过零点的记录按开始日期\n"
        "           和分钟数算到后面的日子）在两分钟以内的记录，计时器每分钟写一次记录。\n"
        "copy       把数据库 FROM 的三个表的全部记录按原来的顺序复制到数据库 TO，每个值都像\n"
        "           程序写入时一样检查；在文件和服务器之间任一方向都可以。FROM、TO 各是文件的\n"
        "           路径或服务器的地址。\n"
        "           TO 是不存在的文件时新建它；服务器上的 TO 没有这三个表时建立它们；\n"
        "           TO 里已有记录时不复制。全部记录在 TO 上一次写入（一个事务）：\n"
        "           中途失败（例如 TO 拒绝某个值）时 TO 保持原样。服务器上的 TO 用服务器的\n"
        "           批量写入（COPY）。标准错误是终端时，上面有一行进度。\n"
        "backup、report、check 和 online 可以在程序正在使用数据库时运行：它们只做短的读取，\n"
        "程序的写入最多等一会儿。\n"
        "\n"
        "选项：\n"
        "  --file PATH          数据库文件，默认是当前文件夹里的 horavo.mdb\n"
        "  --database ADDRESS   数据库：PostgreSQL 的连接地址（postgresql://用户@主机/库名，\n"
        "                       或 \"host=... dbname=...\" 这样的连接串），也可以是文件的路径；\n"
        "                       不能与 --file 一起用。消息里显示地址时不含密码\n"
        "  --admin NAME         管理员的用户名\n"
        "  --password-stdin     管理员的密码从标准输入读一行；不给时在终端上输入（不回显，输两次）\n"
        "  --isp-account NAME   宽带帐号（create）\n"
        "  --isp-password-stdin 宽带帐号的密码从标准输入读一行（在管理员的密码那一行之后）；\n"
        "                       不给时在终端上输入\n"
        "  --password PW        管理员的密码 (手工输入时用; 密码在命令行上别人看得见)\n"
        "  --isp-password PW    宽带帐号的密码 (手工输入时用; 密码在命令行上别人看得见)\n"
        "  --price N            单价，元/小时，大于 0；create 默认 0.3，report 用它代替数据库里的单价\n"
        "  --seat-role NAME     create 在服务器上时：座位连接所用的角色（默认 horavo_seat，没有就建立）；\n"
        "                       它只能读表、注册权限 3 的用户、添加和增长使用记录\n"
        "  --force              backup：覆盖已有的 FILE\n"
        "  --from DATE          report：期间的第一天，YYYY-MM-DD\n"
        "  --to DATE            report：期间的最后一天，YYYY-MM-DD\n"
        "  --user NAME          report：只报这个用户，默认所有用户\n"
        "  --by B               report：user（默认，每个用户一行）或 day（每个用户每天一行）\n"
        "  --format F           report：table（默认，对齐的表格）、csv（RFC 4180，UTF-8）、json\n"
        "                       或 html（可打印的网页，含每天的柱状图）\n"
        "  --exact              report：金额不取整，用完整的双精度（默认按分四舍五入）\n"
        "  --bom                report：CSV 前加 UTF-8 字节顺序标记\n"
        "  --help, -h           显示本说明\n"
        "  --version            显示版本\n"
        "密码不要写在命令行上：命令等待时，本机的每个用户都能在进程列表（ps、/proc）里看到它。\n"
        "不给密码就会在终端上询问；标准输入不是终端时（例如在脚本里），用 --password-stdin 和\n"
        "--isp-password-stdin 从标准输入给出，每个密码一行，管理员的在前，例如：\n"
        "  printf '%s\\n%s\\n' \"$ADMIN_PW\" \"$ISP_PW\" |\n"
        "    horavo-setup create --admin NAME --password-stdin --isp-account NAME --isp-password-stdin\n"
        "\n"
        "设置文件：\n"
        "  /etc/horavo/horavo.conf  每行“键 = 值”，# 开头的行是注释：database（数据库文件的路径或\n"
        "                       服务器的地址）、admin-database（管理员的电脑上，管理员角色连接的数据库）、\n"
        "                       line（线路）。环境变量 HORAVO_SETTINGS 可以指定另一个设置文件\n"
        "\n"
        "环境变量（不为空时优先于设置文件）：\n"
        "  HORAVO_DATABASE      没有 --file 或 --database 的命令所用的数据库：文件的路径或服务器的地址\n"
        "  HORAVO_ADMIN_DATABASE\n"
        "                       管理员的电脑上：管理员角色连接的数据库，不为空时代替 HORAVO_DATABASE\n"
        "  HORAVO_SETTINGS      设置文件的路径，默认 /etc/horavo/horavo.conf\n"
        "\n"
        "退出码：\n"
        "  0  成功；check：没有发现问题\n"
        "  1  命令行有误（未知的命令或选项，缺少 --admin，值不对，--file 与 --database 同时给出，\n"
        "     copy 的 FROM 和 TO 是同一个文件）；check：发现了问题\n"
        "  2  create：数据库文件已经存在，或服务器上的数据库已经有这些表，没有改动；\n"
        "     backup：FILE 已经存在，没有改动；check：数据库读不了（不存在、不是数据库、缺少表）\n"
        "  3  add-admin、backup、report、online：数据库文件不存在，或服务器上的数据库没有这些表；\n"
        "     copy：FROM 不存在\n"
        "  4  密码：没有给出而标准输入不是终端，标准输入里没有这一行，密码为空，或两次输入不一样\n"
        "  5  add-admin：已有这个用户名的用户\n"
        "  6  数据库出错（不能创建或写入，连不上服务器，文件不是这个系统的数据库，备份或复制失败）\n"
        "  7  copy：TO 里已经有记录，没有改动\n"
        "  8  backup：数据库在服务器上，不是文件（备份请用 pg_dump）\n"
        "  9  设置文件读不了，或其中有一行不是设置");
}

} // namespace setup
