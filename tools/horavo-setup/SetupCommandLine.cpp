#include "tools/horavo-setup/SetupCommandLine.h"

#include <cmath>

namespace setup {

namespace {

const QStringList kCreateOptions{QStringLiteral("--file"), QStringLiteral("--admin"), QStringLiteral("--password"),
                                 QStringLiteral("--isp-account"), QStringLiteral("--isp-password"), QStringLiteral("--price")};
const QStringList kAddAdminOptions{QStringLiteral("--file"), QStringLiteral("--admin"), QStringLiteral("--password")};

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
        return failure(QStringLiteral("缺少命令：create 或 add-admin"));

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
    else
        return failure(QStringLiteral("未知的命令“%1”：应为 create 或 add-admin").arg(command));
    const QStringList& allowed = r.command == SetupRequest::Command::Create ? kCreateOptions : kAddAdminOptions;

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
        if (!name.startsWith(QLatin1Char('-')))
            return failure(QStringLiteral("多余的参数“%1”").arg(name));
        if (!allowed.contains(name))
            return failure(QStringLiteral("%1 命令没有选项“%2”").arg(command, name));
        if (seen.contains(name))
            return failure(QStringLiteral("选项 %1 给了两次").arg(name));
        seen << name;
        if (!value) {
            if (i + 1 >= arguments.size())
                return failure(QStringLiteral("选项 %1 后面缺少值").arg(name));
            value = arguments[++i];
        }

        if (name == QStringLiteral("--file"))
            r.file = *value;
        else if (name == QStringLiteral("--admin"))
            r.admin = *value;
        else if (name == QStringLiteral("--password"))
            r.password = *value;
        else if (name == QStringLiteral("--isp-account"))
            r.ispAccount = *value;
        else if (name == QStringLiteral("--isp-password"))
            r.ispPassword = *value;
        else if (name == QStringLiteral("--price")) {
            bool ok = false;
            const double price = value->trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(price) || price <= 0)
                return failure(QStringLiteral("--price 须是大于 0 的数字（元/小时），“%1”不行").arg(*value));
            r.price = price;
        }
    }

    if (!seen.contains(QStringLiteral("--admin")))
        return failure(QStringLiteral("缺少 --admin：第一个管理员的用户名"));
    if (r.admin.isEmpty())
        return failure(QStringLiteral("--admin 的用户名不能是空的"));
    if (r.file.isEmpty() && seen.contains(QStringLiteral("--file")))
        return failure(QStringLiteral("--file 的路径不能是空的"));
    if (!r.ispAccount && (r.ispPassword || r.price))
        return failure(QStringLiteral("--isp-password 和 --price 只能与 --isp-account 一起用"));
    if (r.ispAccount && r.ispAccount->isEmpty())
        return failure(QStringLiteral("--isp-account 的帐号不能是空的"));
    return parsed;
}

QString versionText()
{
    return QStringLiteral("horavo-setup %1.%2.%3").arg(HORAVO_VERSION_MAJOR).arg(HORAVO_VERSION_MINOR).arg(HORAVO_VERSION_PATCH);
}

QString helpText()
{
    return QStringLiteral(
        "用法：\n"
        "  horavo-setup create [--file PATH] --admin NAME [--password PW]\n"
        "                      [--isp-account NAME --isp-password PW [--price N]]\n"
        "  horavo-setup add-admin [--file PATH] --admin NAME [--password PW]\n"
        "  horavo-setup --help | --version\n"
        "\n"
        "create     新建数据库文件（三个表 users、internet、knumber），写入第一个管理员（权限 1），\n"
        "           如给了 --isp-account，再写入一个标为“使用”的宽带帐号。已有的文件不会改动。\n"
        "add-admin  在已有的数据库文件里添加一个管理员（权限 1），例如所有管理员都被删掉之后。\n"
        "\n"
        "选项：\n"
        "  --file PATH          数据库文件，默认是当前文件夹里的 horavo.mdb\n"
        "  --admin NAME         管理员的用户名\n"
        "  --password PW        管理员的密码；不给时在终端上输入（不回显，输两次）\n"
        "  --isp-account NAME   宽带帐号（create）\n"
        "  --isp-password PW    宽带帐号的密码；不给时在终端上输入\n"
        "  --price N            单价，元/小时，大于 0，默认 0.3\n"
        "  --help, -h           显示本说明\n"
        "  --version            显示版本\n"
        "命令行上的密码会被本机其他用户在进程列表里看到；不给密码就会在终端上询问。\n"
        "标准输入不是终端时，必须在命令行上给出密码。\n"
        "\n"
        "退出码：\n"
        "  0  成功\n"
        "  1  命令行有误（未知的命令或选项，缺少 --admin，值不对）\n"
        "  2  create：数据库文件已经存在，没有改动\n"
        "  3  add-admin：数据库文件不存在\n"
        "  4  密码：没有给出而标准输入不是终端，密码为空，或两次输入不一样\n"
        "  5  add-admin：已有这个用户名的用户\n"
        "  6  数据库出错（不能创建或写入，文件不是这个系统的数据库）");
}

} // namespace setup
