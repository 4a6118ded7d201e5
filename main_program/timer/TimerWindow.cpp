#include "main_program/timer/TimerWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QVBoxLayout>

#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "main_program/common/WindowNames.h"
#include "main_program/timer/ProgramIcon.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "platform/MinuteTimer.h"
#include "platform/Program.h"
#include "platform/TrayIcon.h"
#include "platform/widgets/Fonts.h"
#include "platform/widgets/Forms.h"
#include "rules/Minutes.h"
#include "rules/Version.h"
#include "store/DatabaseAddress.h"
#include "store/DatabaseFile.h"
#include "store/Esql.h"
#include "store/RecordSet.h"

namespace tallyon {

Form3::Form3(Services& services, QWidget* parent)
    : platform::Form(services.forms, services.boxes, parent),
      services_(services),
      dialer_(services.line, services.runner, services.boxes, services.session, *this),
      meter_(services.boxes),
      gate_([this] { handle([this] { tick(); }); }, [this] { return dialer_.dialing(); })
{
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("计时查看器"));
    setWindowIcon(programIcon());

    Label2 = new QLabel(QStringLiteral("宽带连接"), this);
    Label2->setFont(platform::song(12));
    Label2->setAlignment(Qt::AlignCenter);
    Label1 = new QLabel(QStringLiteral("本次用时为："), this);
    Label1->setFont(platform::song(10.5));
    Text1 = new QLineEdit(QStringLiteral("时间"), this);
    Text1->setAlignment(Qt::AlignRight);
    Text1->setMinimumWidth(80);
    Label3 = new QLabel(QStringLiteral("单位/分"), this);
    Label1->setBuddy(Text1);
    Command1 = new QPushButton(QStringLiteral("断开网路"), this);
    Command2 = new QPushButton(QStringLiteral("查看时间"), this);
    Command3 = new QPushButton(QStringLiteral("取    消"), this);
    for (QPushButton* button : {Command1, Command2, Command3})
        button->setAutoDefault(false);

    auto* minutesRow = new QHBoxLayout;
    minutesRow->addStretch();
    minutesRow->addWidget(Label1);
    minutesRow->addWidget(Text1);
    minutesRow->addWidget(Label3);
    minutesRow->addStretch();
    auto* buttonsRow = new QHBoxLayout;
    buttonsRow->addWidget(Command1);
    buttonsRow->addWidget(Command2);
    buttonsRow->addWidget(Command3);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(14);
    layout->addWidget(Label2);
    layout->addLayout(minutesRow);
    layout->addLayout(buttonsRow);

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Text1);
    Command1->setFocus();

    onEvent(Command1, &QPushButton::clicked, &Form3::Command1_Click);
    onEvent(Command2, &QPushButton::clicked, &Form3::Command2_Click);
    onEvent(Command3, &QPushButton::clicked, &Form3::Command3_Click);

    Timer1 = services_.makeTimer();
    Timer1->onTimeout([this] { Timer1_Timer(); });
    tray_ = services_.makeTrayIcon();
    const auto showWindow = [this] { runEvent([this] { restore(); }); };
    tray_->onLeftButtonRelease(showWindow);
    tray_->addMenuEntry(QStringLiteral("显示计时窗口"), showWindow);
    // The button's own click, so that the menu's hang-up is the button's in every step
    // (the tick gate, the question, the meter, the error path).
    tray_->addMenuEntry(QStringLiteral("断开网路"), [this] { Command1->click(); });
}

Form3::~Form3()
{
    // No tick may reach a window that is going.
    gate_.close();
    if (Timer1)
        Timer1->stop();
}

QString Form3::trayTip(const QString& applicationTitle)
{
    return applicationTitle + QStringLiteral("(版本 ") + horavo::version() + u')';
}

void Form3::runEvent(const std::function<void()>& handler)
{
    gate_.runHandler([&] { handle(handler); });
}

void Form3::endProgram()
{
    if (!meter_.flush()) {
        // Minutes that end with the program would be lost: the person billed could end
        // it while the file is locked. It waits, and tries again every minute.
        const bool saidSo = ending_;
        ending_ = true;
        if (saidSo)
            return;
        const qlonglong minutes = meter_.unwrittenMinutes();
        logEvent(QStringLiteral("结束前还有 %1 分钟没有记入数据库：%2").arg(minutes).arg(meter_.lastFailure()));
        boxes().show(QStringLiteral("还有 %1 分钟的上网时间没有记入数据库：\n%2\n"
                                    "程序每分钟再试一次，全部记下后自动结束。")
                         .arg(minutes)
                         .arg(meter_.lastFailure()));
        return;
    }
    gate_.close();
    Timer1->stop();
    services_.program.endAtOnce();
}

void Form3::Form_Load()
{
    // However the load steps end (a failure among them goes on to its box), the window
    // is left where the user can reach it: behind its icon, or, without the records it
    // writes to, gone, so that the login window still open is where the user goes on.
    const auto settle = qScopeGuard([this] {
        if (forms().ended())
            return;
        if (rsinternet)
            setUpTrayIcon();
        else
            unload();
    });
    loadSteps();
}

void Form3::Form_LoadAgain()
{
    // A log-in from the fresh login window that this window showed (no account to dial,
    // nobody logged in): it dials and times as a first log-in does. While a connection
    // is being timed, a second log-in changes nothing.
    if (!rsinternet || (started() && dialer_.testc()))
        return;
    Form_Load();
}

void Form3::loadSteps()
{
    // A new log-in: the connection timed before (its line is down) has ended, and its
    // row is found in the new record set by its key.
    std::unique_ptr<store::RecordSet> rows = store::Esql(QStringLiteral("select * from internet"));
    meter_.endRow();
    meter_.attach(*rows);
    rsinternet = std::move(rows);
    intervalBase_ += Timer1->intervalsElapsed();
    Timer1->setInterval(horavo::kMinuteMs);
    Timer1->start();

    forms().unload(windows::login);
    dialer_.discoverEntryName();
    if (look().isUp() && !started()) {
        addtime();
        Text1->setText(QString::number(meter_.minutes()));
        return;
    }
    Text1->setText(QStringLiteral("0"));
    if (!services_.session.guser.isEmpty()) {
        dialer_.conutionadd();
        Text1->setText(QStringLiteral("1"));
    } else {
        boxes().show(QStringLiteral("你还没有登录"));
        forms().show(windows::login);
        hide();
    }
    hidey();
}

void Form3::setUpTrayIcon()
{
    // Added in every case: a notification area that appears later docks it.
    tray_->add(windowIcon(), trayTip(boxes().applicationTitle()));
    if (tray_->available())
        return;
    // No notification area: the window waits minimized on the task bar instead, where
    // the user can still reach "断开网路".
    if (!isMinimized())
        showMinimized();
}

void Form3::Timer1_Timer()
{
    if (!rsinternet)
        return;
    if (gate_.busy() || dialer_.dialing())
        watch();
    gate_.tickDue();
}

qint64 Form3::intervalsDue() const
{
    return intervalBase_ + Timer1->intervalsElapsed();
}

Sighting Form3::look()
{
    const QScopedValueRollback<bool> looking(looking_, true);
    QString connection;
    switch (dialer_.lineState(&connection)) {
    case LineState::Up:
        lastLook_ = Sighting::up(connection);
        break;
    case LineState::Down:
        lastLook_ = Sighting::down();
        break;
    case LineState::Unknown:
        lastLook_ = Sighting::unknown();
        break;
    }
    return lastLook_;
}

void Form3::watch()
{
    // Not during a dial or a dropped line's questions, whose minutes count nothing, nor
    // inside a look already under way.
    if (dialer_.dialing() || dropDialogue_ || looking_ || ending_)
        return;
    const qint64 interval = intervalsDue();
    meter_.sight(interval, services_.clock.now(), look());
}

void Form3::tick()
{
    if (ending_) {
        endProgram();
        return;
    }
    const qint64 due = intervalsDue();
    if (due <= meter_.counted())
        return;
    const auto written = qScopeGuard([this] { meter_.flush(); });

    Sighting first = look();
    // The intervals held before this tick's own, by what the looks meanwhile saw.
    meter_.settle(due - 1, services_.clock.now(), first);
    if (first.line == Sighting::Line::Unknown) {
        // The line service did not answer (a hung or failed query): this tick neither
        // bills its minute nor takes the line for dropped. A second one in a row is a drop.
        if (++unknownInARow_ < 2) {
            meter_.pass(due);
            return;
        }
        first = Sighting::down();
    }
    unknownInARow_ = 0;
    if (first.isUp()) {
        if (!started())
            addtime();
    } else {
        meter_.lineDown();
        const QScopedValueRollback<bool> dialogue(dropDialogue_, true);
        logEvent(QStringLiteral("线路断开：%1").arg(dialer_.entryname()));
        boxes().show(QStringLiteral("网络连接失败，请检查你的用户名和密码是否正确，或者你的网络设备是否连接好！"),
                     QStringLiteral("连接失败"));
        if (boxes().ask(QStringLiteral("是否重新连接？"), QStringLiteral("询问")) != platform::Answer::Ok) {
            endProgram();
            return;
        }
        dialer_.conutionadd();
        // What fell due while the line was found down (its questions, the dial) counts
        // nothing.
        meter_.pass(intervalsDue());
    }
    const Sighting second = look();
    if (started() && second.isUp()) {
        // The tick's own minute; a row begun in this tick holds 2.
        meter_.tickMinute(due, services_.clock.now(), second);
        meter_.flush();   // a row another writer took goes on in a new one: shown as such
        Text1->setText(QString::number(meter_.minutes()));
    } else if (second.line != Sighting::Line::Unknown) {
        meter_.lineDown();
        const QScopedValueRollback<bool> dialogue(dropDialogue_, true);
        if (boxes().ask(QStringLiteral("网络已经断开了，是否关闭计时程序？"), QStringLiteral("询问"))
            == platform::Answer::Ok) {
            endProgram();
            return;
        }
        meter_.pass(intervalsDue());
    } else {
        meter_.pass(due);   // not known: neither billed nor a drop
    }
    // Intervals that fall due while this tick's writes wait for the file are the next
    // tick's, by the looks taken at them or not.
}

void Form3::addtime()
{
    // After a dial the line has not been looked at since it came up.
    if (!lastLook_.isUp())
        look();
    const QString connection = lastLook_.isUp() ? lastLook_.connection : QString();
    const std::optional<QString> failure =
        meter_.begin(services_.session.guser, services_.clock.now(), connection, intervalsDue());
    if (failure)
        refuseUnrecordedConnection(*failure);
}

void Form3::refuseUnrecordedConnection(const QString& failure)
{
    QString hungUp = QStringLiteral("线路已经挂断。");
    try {
        dialer_.hangUpAll();
    } catch (const platform::LineUnknown& unknown) {
        hungUp = QStringLiteral("线路没能挂断（%1），请自己断开。").arg(unknown.message());
    }
    const QString why = store::whyNotWritable(store::DatabaseAddress::fromSettings());
    logEvent(QStringLiteral("无法开始记录，%1%2").arg(hungUp, failure));
    boxes().show(QStringLiteral("无法开始记录本次上网时间，%1\n%2%3")
                     .arg(hungUp, why.isEmpty() ? QString() : why + u'\n', failure));
}

void Form3::setTimerInterval(int milliseconds)
{
    // The timer starts its count anew; what fell due before, while the line was being
    // dialed, counts nothing.
    intervalBase_ += Timer1->intervalsElapsed();
    Timer1->setInterval(milliseconds);
    meter_.pass(intervalsDue());
}

void Form3::showLoginWindow()
{
    forms().show(windows::login);
}

void Form3::requestUnload()
{
    unload();
}

void Form3::dialStarted(const QString& entry)
{
    dialWindow_ = std::make_unique<DialWindow>(entry);
}

void Form3::dialProgress(const QString& line)
{
    if (dialWindow_)
        dialWindow_->addLine(line);
}

void Form3::dialEnded()
{
    dialWindow_.reset();
}

bool Form3::dialCancelled()
{
    return dialWindow_ && dialWindow_->cancelled();
}

void Form3::logEvent(const QString& line)
{
    if (services_.eventLog)
        services_.eventLog(line);
}

void Form3::Command1_Click()
{
    if (ending_) {
        endProgram();
        return;
    }
    if (boxes().ask(QStringLiteral("你确定要断开网络连接吗？"), QStringLiteral("断开连接"))
        != platform::Answer::Ok)
        return;
    // The minutes up to the hang-up count, as far as the connection hung up is the one
    // the row was timing.
    Sighting before = Sighting::down();
    for (const platform::ActiveConnection& connection : dialer_.hangUpAll()) {
        if (connection.entryName == dialer_.entryname())
            before = Sighting::up(connection.handle);
    }
    meter_.hangUp(intervalsDue(), services_.clock.now(), before);
    endProgram();
}

void Form3::Command2_Click()
{
    forms().show(windows::history);
    hide();
    hidey();
}

void Form3::Command3_Click()
{
    hide();
    hidey();
}

bool Form3::Form_QueryUnload()
{
    if (!rsinternet)
        return true;
    hide();
    hidey();
    return false;
}

void Form3::hidey()
{
    if (!tray_->available()) {
        showMinimized();
        return;
    }
    setVisible(false);
    if (QWidget* owner = parentWidget())
        owner->window()->hide();
}

void Form3::restore()
{
    showNormal();
    raise();
    activateWindow();
}

} // namespace tallyon
