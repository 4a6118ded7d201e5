#include "main_program/dialer/Dialer.h"

#include <string.h>

#include <chrono>

#include <QRegularExpression>
#include <QScopedValueRollback>

#include "main_program/common/Session.h"
#include "main_program/dialer/CommandRunner.h"
#include "platform/MessageBoxes.h"
#include "platform/line/LineService.h"
#include "platform/line/LocaleCharset.h"
#include "rules/Minutes.h"
#include "rules/UnitPrice.h"
#include "store/Esql.h"

namespace tallyon {

namespace {

const QString kBroadbandEntry = QStringLiteral("宽带连接");

// The longest a dial may take before it is stopped. rasdial's own waits on NetworkManager
// add up to about two minutes at the worst (its queries of 5 s each, the activation's 60 s
// with a 15 s margin, a 20 s PPPoE discovery to tell 678 from 691), so a dial still
// running after three has hung or been stopped, and would otherwise hold the window for
// good.
constexpr std::chrono::seconds kDialTimeLimit{180};

QString lastLine(const QString& output)
{
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString trimmed = line->trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return {};
}

QString withExplanation(const QString& message, const QString& output)
{
    const QString explanation = lastLine(output);
    return explanation.isEmpty() ? message : message + QLatin1Char('\n') + explanation;
}

QString signalName(int signal)
{
    const char* abbreviation = sigabbrev_np(signal);
    return abbreviation ? QStringLiteral(" (SIG%1)").arg(QLatin1String(abbreviation)) : QString();
}

// The message for a dial that did not connect, empty when it connected. Both what rasdial
// wrote and how it ended count: an error number in the output, or any end but exit 0, is
// a failed dial.
QString dialFailure(const CommandResult& result)
{
    const QString& output = result.output;
    if (result.end == CommandResult::End::NotStarted || isRunnerFailure(output))
        return QStringLiteral("无法启动拨号程序 rasdial：") + output;
    if (result.end == CommandResult::End::Cancelled)
        return QStringLiteral("拨号已取消。");
    if (result.end == CommandResult::End::TimedOut)
        return QStringLiteral("拨号超过 %1 秒还没有结束，已停止拨号。").arg(kDialTimeLimit.count());
    if (output.contains(QStringLiteral("错误 678")))
        return QStringLiteral("远程主机没有反应，请你查看一下你的线路是否有问题！");
    if (output.contains(QStringLiteral("错误 691")))
        return QStringLiteral("你的用户名和密码有问题，请你查证后再试！");
    static const QRegularExpression otherError(QStringLiteral("错误 ([0-9]+)"));
    const QRegularExpressionMatch number = otherError.match(output);
    if (number.hasMatch())
        return withExplanation(QStringLiteral("拨号失败，错误 ") + number.captured(1) + QStringLiteral("。"), output);
    if (result.end == CommandResult::End::Signaled)
        return withExplanation(QStringLiteral("拨号失败：rasdial 被信号 %1%2 终止。")
                                   .arg(result.signal)
                                   .arg(signalName(result.signal)),
                               output);
    if (result.exitCode != 0)
        return withExplanation(QStringLiteral("拨号失败：rasdial 的退出码为 %1。").arg(result.exitCode), output);
    return {};
}

// The outcome of a failed dial for the log: its error number where rasdial gave one,
// else the message the user saw.
QString outcomeForLog(const CommandResult& result, const QString& failure)
{
    static const QRegularExpression errorNumber(QStringLiteral("错误 ([0-9]+)"));
    const QRegularExpressionMatch number = errorNumber.match(result.output);
    const bool endedByUs = result.end == CommandResult::End::Cancelled || result.end == CommandResult::End::TimedOut;
    if (number.hasMatch() && !endedByUs)
        return QStringLiteral("失败，错误 ") + number.captured(1);
    return QStringLiteral("失败：") + failure;
}

} // namespace

Dialer::Dialer(platform::LineService& line, CommandRunner& runner, platform::MessageBoxes& boxes,
               Session& session, DialerHost& host)
    : line_(line), runner_(runner), boxes_(boxes), session_(session), host_(host)
{
}

void Dialer::discoverEntryName()
{
    const QStringList entries = line_.phonebookEntries();
    if (entries.isEmpty()) {
        // A listing that failed (nmcli down for a moment, an unreadable line file) looks
        // like an empty phonebook. Left empty, the name would match no connection for the
        // whole run: every tick a drop with the line up, every redial a new row. The entry
        // the dial always dials is the one to watch, so it stands in; a name found before
        // is kept. Discovering again at later line tests would cost a listing per tick
        // and could still change the watched entry in the middle of a row.
        if (entryname_.isEmpty())
            entryname_ = kBroadbandEntry;
        return;
    }
    entryname_ = entries.contains(kBroadbandEntry) ? kBroadbandEntry : entries.last();
}

LineState Dialer::lineState(QString* found)
{
    QList<platform::ActiveConnection> connections;
    try {
        connections = line_.activeConnections();
    } catch (const platform::LineUnknown&) {
        return LineState::Unknown;
    }
    for (const platform::ActiveConnection& connection : connections) {
        if (connection.entryName == entryname_) {
            if (found)
                *found = connection.handle;
            return LineState::Up;
        }
    }
    return LineState::Down;
}

bool Dialer::testc()
{
    return lineState() == LineState::Up;
}

QList<platform::ActiveConnection> Dialer::hangUpAll()
{
    const QList<platform::ActiveConnection> connections = line_.activeConnections();
    for (const platform::ActiveConnection& connection : connections) {
        line_.hangUp(connection.handle);
        host_.logEvent(QStringLiteral("挂断 %1（连接 %2）").arg(connection.entryName, connection.handle));
    }
    return connections;
}

QString Dialer::hangUpAfterFailedDial()
{
    // A dial that failed leaves no line up. rasdial killed, stopped or cancelled after
    // the line came up, or failing after it, would otherwise leave a connection that the
    // next tick finds up and bills, after the user was told that the dial failed.
    const auto leftUp = [this] {
        QList<platform::ActiveConnection> left;
        for (const platform::ActiveConnection& connection : line_.activeConnections()) {
            if (connection.entryName == kBroadbandEntry)
                left << connection;
        }
        return left;
    };
    try {
        const QList<platform::ActiveConnection> left = leftUp();
        if (left.isEmpty())
            return {};
        for (const platform::ActiveConnection& connection : left) {
            line_.hangUp(connection.handle);
            host_.logEvent(QStringLiteral("挂断 %1（连接 %2）：拨号失败").arg(connection.entryName, connection.handle));
        }
        if (leftUp().isEmpty())
            return {};
        return QStringLiteral("\n但%1仍然连着，没能挂断：连着的时间照常计时。").arg(kBroadbandEntry);
    } catch (const platform::LineUnknown& unknown) {
        return QStringLiteral("\n无法得知%1是否已经断开（%2）：它若仍然连着，连着的时间照常计时。")
            .arg(kBroadbandEntry, unknown.message());
    }
}

void Dialer::conutionadd()
{
    const QScopedValueRollback<bool> dialing(dialing_, true);   // however conutionadd leaves

    const std::unique_ptr<store::RecordSet> accounts =
        store::Esql(QStringLiteral("select * from knumber"));
    if (accounts->atEnd()) {
        boxes_.show(QStringLiteral("对不起，卡号记录为空，请你用管理员的身份登录添加！"));
        host_.showLoginWindow();
        host_.requestUnload();
        return;
    }

    bool chosen = false;
    const std::size_t rows = accounts->rowCount();
    for (std::size_t row = 0; row < rows && !accounts->atEnd(); ++row) {
        if (horavo::isInUse(accounts->value(QStringLiteral("useyn")))) {
            chosen = true;
            break;
        }
        accounts->next();
    }
    if (!chosen)
        return;

    session_.gprice = horavo::unitPrice(accounts->value(QStringLiteral("price")));

    // The broadband entry is dialed by its name; a phonebook without it makes rasdial
    // answer 623, a failed dial. After "--" rasdial takes every word as the entry and
    // the account, never as an option or the disconnect switch. The password goes to
    // its standard input, since a command line is readable by every user of the machine.
    QStringEncoder encoder = platform::localeEncoder();
    const QByteArray password = encoder.encode(accounts->value(QStringLiteral("kpassw")).toString());
    Command dial{QStringLiteral("rasdial"),
                       {QStringLiteral("--password-stdin"), QStringLiteral("--"), kBroadbandEntry,
                        accounts->value(QStringLiteral("kuser")).toString()},
                       password + '\n'};
    dial.onLine = [this](const QString& line) { host_.dialProgress(line); };
    dial.cancelled = [this] { return host_.dialCancelled(); };
    dial.timeout = kDialTimeLimit;
    host_.dialStarted(kBroadbandEntry);
    const CommandResult result = runner_.run(dial, 256, 2);
    host_.dialEnded();
    const QString failure = dialFailure(result);
    const QString account = accounts->value(QStringLiteral("kuser")).toString();
    host_.logEvent(QStringLiteral("拨号 %1，帐号 %2：%3")
                       .arg(kBroadbandEntry, account,
                            failure.isEmpty() ? QStringLiteral("已连接") : outcomeForLog(result, failure)));
    if (!failure.isEmpty()) {
        boxes_.show(failure + hangUpAfterFailedDial());
        return;
    }

    host_.addtime();
    host_.setStarted(true);
    host_.setTimerInterval(horavo::kMinuteMs);
}

} // namespace tallyon
