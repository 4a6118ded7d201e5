// rasdial: dials, lists and hangs up broadband connections through the line service that
// the room's settings choose (TALLYON_LINE, else the settings file's line), and reports as the remote-access command does on a Chinese system.

#include <cstdio>

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>
#include <QStringList>

#include "platform/line/LocaleCharset.h"
#include "platform/line/MakeLineService.h"
#include "rules/Version.h"

namespace {

using platform::writeLine;
namespace lineerror = platform::lineerror;

enum ExitCode { kSucceeded = 0, kFailed = 1, kBadArguments = 2 };

QString errorDescription(int number)
{
    switch (number) {
    case lineerror::kNoSuchEntry:
        return QStringLiteral("系统无法找到此连接的电话簿项。");
    case lineerror::kNoAnswer:
        return QStringLiteral("远程计算机没有响应。");
    case lineerror::kAuthenticationRefused:
        return QStringLiteral("因为用户名和/或密码在此域上无效，所以拒绝访问。");
    case lineerror::kServiceUnavailable:
        return QStringLiteral("无法启动远程访问连接管理器服务。");
    case lineerror::kInvalidArguments:
        return QStringLiteral("参数不正确。");
    case lineerror::kNoSuitableDevice:
        return QStringLiteral("找不到可用于此连接的网络设备。");
    case lineerror::kProfileDoesNotFitDevice:
        return QStringLiteral("此连接的设置与它的网络设备不符。");
    case lineerror::kAmbiguousEntry:
        return QStringLiteral("有多个同名的连接都适用于现有的网络设备，无法确定拨哪一个。");
    case lineerror::kNotAuthorized:
        return QStringLiteral("你没有更改网络连接的权限。");
    default:
        return QStringLiteral("未知错误。");
    }
}

void printError(int number)
{
    writeLine(stdout, QStringLiteral("远程访问错误 %1 - %2").arg(number).arg(errorDescription(number)));
}

void printUsage(std::FILE* stream)
{
    for (const QString& line : {
             QStringLiteral("用法: rasdial                          列出已连接的项"),
             QStringLiteral("      rasdial 项名 [用户名 [密码]]      拨号连接该项 (手工输入时用; 密码在命令行上别人看得见)"),
             QStringLiteral("      rasdial 项名 /DISCONNECT         断开该项的连接 (/D 亦可)"),
             QStringLiteral("      rasdial -- 项名 [用户名 [密码]]   \"--\" 之后的词一律是项名、用户名和密码，不是选项"),
             QStringLiteral("      rasdial --password-stdin [--] 项名 用户名"),
             QStringLiteral("                                      密码从标准输入读到结束 (末尾一个换行不算)，不在命令行上"),
             QStringLiteral("      rasdial --help | --version        显示本说明 | 显示版本"),
             QStringLiteral("项名以 \"-\" 开头时须放在 \"--\" 之后。"),
             QStringLiteral("线路服务由环境变量 TALLYON_LINE 选定，没有设置时由设置文件 /etc/horavo/horavo.conf 的 line 选定: networkmanager (默认，本机拨号)、lan (路由器拨号，本机只计时) 或 sim:文件 (模拟线路)。"),
         })
        writeLine(stream, line);
}

void printStage(platform::DialStage stage, const QString& entry)
{
    switch (stage) {
    case platform::DialStage::Connecting:
        writeLine(stdout, QStringLiteral("正在连接到 %1...").arg(entry));
        break;
    case platform::DialStage::Authenticating:
        writeLine(stdout, QStringLiteral("正在验证用户名及密码..."));
        break;
    case platform::DialStage::Registering:
        writeLine(stdout, QStringLiteral("正在网络上注册您的计算机..."));
        break;
    }
}

int listConnections(platform::DialableLine& line)
{
    const QList<platform::ActiveConnection> connections = line.activeConnections();
    if (connections.isEmpty()) {
        writeLine(stdout, QStringLiteral("没有连接"));
    } else {
        writeLine(stdout, QStringLiteral("已连接"));
        for (const platform::ActiveConnection& connection : connections)
            writeLine(stdout, connection.entryName);
    }
    writeLine(stdout, QStringLiteral("命令已完成。"));
    return kSucceeded;
}

int disconnect(platform::DialableLine& line, const QString& entry)
{
    bool found = false;
    for (const platform::ActiveConnection& connection : line.activeConnections()) {
        if (connection.entryName == entry) {
            line.hangUp(connection.handle);
            found = true;
        }
    }
    if (!found) {
        writeLine(stdout, QStringLiteral("没有连接到 %1。").arg(entry));
        return kFailed;
    }
    writeLine(stdout, QStringLiteral("命令已完成。"));
    return kSucceeded;
}

// What the command line asks for.
struct Request {
    enum class Kind { Help, Version, List, Disconnect, Dial, Bad };
    Kind kind = Kind::Bad;
    QString entry;
    std::optional<QString> user;
    std::optional<QString> password;
    bool passwordFromInput = false;
};

bool isDisconnectSwitch(const QString& word)
{
    return word.compare(QLatin1String("/DISCONNECT"), Qt::CaseInsensitive) == 0
        || word.compare(QLatin1String("/D"), Qt::CaseInsensitive) == 0;
}

// Options come first; after "--" every word is an entry, a user or a password, so a
// program passing an account it does not control puts "--" before the entry.
Request parse(const QStringList& arguments)
{
    Request request;
    if (!arguments.isEmpty()
        && (arguments.first() == QLatin1String("--help") || arguments.first() == QLatin1String("/?"))) {
        request.kind = Request::Kind::Help;
        return request;
    }
    if (arguments.size() == 1 && arguments.first() == QLatin1String("--version")) {
        request.kind = Request::Kind::Version;
        return request;
    }
    qsizetype next = 0;
    while (next < arguments.size() && arguments.at(next) == QLatin1String("--password-stdin")) {
        request.passwordFromInput = true;
        ++next;
    }
    const bool literal = next < arguments.size() && arguments.at(next) == QLatin1String("--");
    if (literal)
        ++next;
    const QStringList words = arguments.mid(next);

    if (words.isEmpty()) {
        request.kind = (literal || request.passwordFromInput) ? Request::Kind::Bad : Request::Kind::List;
        return request;
    }
    request.entry = words.at(0);
    // An entry name that looks like an option is a mistake on the command line (an
    // option misspelt, or one not known here), unless "--" said that names follow.
    if (!literal && request.entry.startsWith(QLatin1Char('-')))
        return request;
    if (!literal && !request.passwordFromInput && words.size() == 2 && isDisconnectSwitch(words.at(1))) {
        request.kind = Request::Kind::Disconnect;
        return request;
    }
    const qsizetype most = request.passwordFromInput ? 2 : 3;
    if (words.size() > most || (request.passwordFromInput && words.size() < 2))
        return request;
    request.kind = Request::Kind::Dial;
    if (words.size() > 1)
        request.user = words.at(1);
    if (words.size() > 2)
        request.password = words.at(2);
    else if (request.user)
        request.password = QString(); // a user without a password dials with an empty one
    return request;
}

// The password given on standard input: everything up to its end, less one final line
// break, in the locale's charset.
QString passwordFromInput()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return {};
    QByteArray bytes = input.readAll();
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    QStringDecoder decoder = platform::localeDecoder();
    return decoder.decode(bytes);
}

int dial(platform::DialableLine& line, const Request& request)
{
    const QString& entry = request.entry;
    const std::optional<QString>& user = request.user;
    const std::optional<QString> password = request.passwordFromInput ? passwordFromInput() : request.password;

    const platform::DialResult result =
        line.dial(entry, user, password, [&entry](platform::DialStage stage) { printStage(stage, entry); });
    if (!result.detail.isEmpty())
        writeLine(stderr, result.detail);
    if (!result.connected()) {
        printError(result.error);
        return kFailed;
    }
    if (result.alreadyConnected)
        writeLine(stdout, QStringLiteral("你已经连接到 %1。").arg(entry));
    else
        writeLine(stdout, QStringLiteral("已连接 %1。").arg(entry));
    writeLine(stdout, QStringLiteral("命令已完成。"));
    return kSucceeded;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);

    // The arguments come in the locale's charset, which Qt would take for UTF-8.
    const Request request = parse(platform::localeArguments(argc, argv));

    if (request.kind == Request::Kind::Help) {
        printUsage(stdout);
        return kSucceeded;
    }
    if (request.kind == Request::Kind::Version) {
        writeLine(stdout, QStringLiteral("rasdial ") + horavo::version());
        return kSucceeded;
    }
    if (request.kind == Request::Kind::Bad) {
        printUsage(stderr);
        printError(lineerror::kInvalidArguments);
        return kBadArguments;
    }

    std::unique_ptr<platform::DialableLine> line;
    try {
        line = platform::makeLineService();
    } catch (const platform::LineChoiceError& error) {
        writeLine(stderr, error.message());
        printError(lineerror::kServiceUnavailable);
        return kFailed;
    }

    try {
        switch (request.kind) {
        case Request::Kind::List:
            return listConnections(*line);
        case Request::Kind::Disconnect:
            return disconnect(*line, request.entry);
        default:
            return dial(*line, request);
        }
    } catch (const platform::LineUnknown& unknown) {
        writeLine(stderr, unknown.message());
        printError(lineerror::kServiceUnavailable);
        return kFailed;
    }
}
