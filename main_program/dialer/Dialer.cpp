#include "main_program/dialer/Dialer.h"

#include <QRegularExpression>

#include "main_program/common/Minutes.h"
#include "main_program/common/Session.h"
#include "main_program/common/UnitPrice.h"
#include "main_program/dialer/CommandRunner.h"
#include "platform/MessageBoxes.h"
#include "platform/line/LineService.h"
#include "store/Esql.h"

namespace tallyon {

namespace {

const QString kBroadbandEntry = QStringLiteral("宽带连接");

// Marks the dial in progress for as long as conutionadd runs, however it leaves.
class DialingMark {
public:
    explicit DialingMark(bool& flag) : flag_(flag) { flag_ = true; }
    ~DialingMark() { flag_ = false; }
    DialingMark(const DialingMark&) = delete;
    DialingMark& operator=(const DialingMark&) = delete;

private:
    bool& flag_;
};

bool isInUse(const QVariant& useyn)
{
    return !useyn.isNull() && useyn.toBool();
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
    if (entries.isEmpty())
        return;
    entryname_ = entries.contains(kBroadbandEntry) ? kBroadbandEntry : entries.last();
}

bool Dialer::testc()
{
    const QList<platform::ActiveConnection> connections = line_.activeConnections();
    for (const platform::ActiveConnection& connection : connections) {
        if (connection.entryName == entryname_)
            return true;
    }
    return false;
}

void Dialer::hangUpAll()
{
    const QList<platform::ActiveConnection> connections = line_.activeConnections();
    for (const platform::ActiveConnection& connection : connections)
        line_.hangUp(connection.handle);
}

void Dialer::conutionadd()
{
    DialingMark mark(dialing_);

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
        if (isInUse(accounts->value(QStringLiteral("useyn")))) {
            chosen = true;
            break;
        }
        accounts->next();
    }
    if (!chosen)
        return;

    session_.gprice = unitPrice(accounts->value(QStringLiteral("price")));

    // The broadband entry is dialed by its name; a phonebook without it makes rasdial
    // answer 623, a failed dial.
    const QString commandLine = QStringLiteral("rasdial ") + kBroadbandEntry + QLatin1Char(' ')
        + accounts->value(QStringLiteral("kuser")).toString() + QLatin1Char(' ')
        + accounts->value(QStringLiteral("kpassw")).toString();
    const QString output = runner_.runcmd(commandLine, 256, 2);

    if (isRunnerFailure(output)) {
        boxes_.show(QStringLiteral("无法启动拨号程序 rasdial：") + output);
        return;
    }
    if (output.contains(QStringLiteral("错误 678"))) {
        boxes_.show(QStringLiteral("远程主机没有反应，请你查看一下你的线路是否有问题！"));
        return;
    }
    if (output.contains(QStringLiteral("错误 691"))) {
        boxes_.show(QStringLiteral("你的用户名和密码有问题，请你查证后再试！"));
        return;
    }
    static const QRegularExpression otherError(QStringLiteral("错误 ([0-9]+)"));
    const QRegularExpressionMatch failure = otherError.match(output);
    if (failure.hasMatch()) {
        boxes_.show(QStringLiteral("拨号失败，错误 ") + failure.captured(1) + QStringLiteral("。"));
        return;
    }

    host_.addtime();
    host_.setStarted(true);
    host_.setTimerInterval(kMinuteMs);
}

} // namespace tallyon
