// rasdial: dials, lists and hangs up broadband connections through the line service that
// TALLYON_LINE chooses, and reports as the remote-access command does on a Chinese system.

#include <cstdio>

#include <QCoreApplication>
#include <QStringList>

#include "platform/line/LocaleCharset.h"
#include "platform/line/MakeLineService.h"

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
             QStringLiteral("      rasdial 项名 [用户名 [密码]]      拨号连接该项"),
             QStringLiteral("      rasdial 项名 /DISCONNECT         断开该项的连接"),
             QStringLiteral("线路服务由环境变量 TALLYON_LINE 选定: networkmanager (默认) 或 sim:文件。"),
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

int dial(platform::DialableLine& line, const QStringList& arguments)
{
    const QString entry = arguments.at(0);
    const std::optional<QString> user =
        arguments.size() > 1 ? std::optional<QString>(arguments.at(1)) : std::nullopt;
    // A user without a password dials with an empty one.
    const std::optional<QString> password = arguments.size() > 2
        ? std::optional<QString>(arguments.at(2))
        : (user ? std::optional<QString>(QString()) : std::nullopt);

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

bool isDisconnectSwitch(const QString& word)
{
    return word.compare(QLatin1String("/DISCONNECT"), Qt::CaseInsensitive) == 0
        || word.compare(QLatin1String("/D"), Qt::CaseInsensitive) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);

    // The arguments come in the locale's charset, which Qt would take for UTF-8.
    const QStringList arguments = platform::localeArguments(argc, argv);

    if (!arguments.isEmpty()
        && (arguments.first() == QLatin1String("--help") || arguments.first() == QLatin1String("/?"))) {
        printUsage(stdout);
        return kSucceeded;
    }
    const bool disconnecting = arguments.size() == 2 && isDisconnectSwitch(arguments.at(1));
    if (arguments.size() > 3) {
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

    if (arguments.isEmpty())
        return listConnections(*line);
    if (disconnecting)
        return disconnect(*line, arguments.at(0));
    return dial(*line, arguments);
}
