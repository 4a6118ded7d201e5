#include "main_program/timer/TimerWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

#include "main_program/common/Minutes.h"
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
#include "store/Esql.h"
#include "store/RecordSet.h"

namespace tallyon {

Form3::Form3(Services& services, QWidget* parent)
    : platform::Form(services.forms, services.boxes, parent),
      services_(services),
      dialer_(services.line, services.runner, services.boxes, services.session, *this),
      usage_(services.boxes),
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
    tray_->onLeftButtonRelease([this] { runEvent([this] { restore(); }); });
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
    return applicationTitle + QStringLiteral("(版本 ") + QString::number(HORAVO_VERSION_MAJOR) + u'.'
           + QString::number(HORAVO_VERSION_MINOR) + u'.' + QString::number(HORAVO_VERSION_PATCH) + u')';
}

void Form3::runEvent(const std::function<void()>& handler)
{
    gate_.runHandler([&] { handle(handler); });
}

void Form3::endProgram()
{
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
    if (!rsinternet || (started_ && dialer_.testc()))
        return;
    Form_Load();
}

void Form3::loadSteps()
{
    rsinternet = store::Esql(QStringLiteral("select * from internet"));
    usage_.attach(*rsinternet);
    Timer1->setInterval(kMinuteMs);
    Timer1->start();
    ticksCounted_ = 0;

    forms().unload(windows::login);
    started_ = false;
    dialer_.discoverEntryName();
    if (dialer_.testc() && !started_) {
        addtime();
        Text1->setText(QStringLiteral("1"));
        started_ = true;
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
    gate_.tickDue();
}

void Form3::tick()
{
    // Every interval that fell due since the last tick counts, whether its timeout was
    // held behind a box or a handler, or never came while a write waited for the file.
    const qint64 due = Timer1->intervalsElapsed() - ticksCounted_;
    if (due <= 0)
        return;
    ticksCounted_ += due;

    LineState state = dialer_.lineState();
    if (state == LineState::Unknown) {
        // The line service did not answer (a hung or failed query): this tick neither
        // bills its minute nor takes the line for dropped. A second one in a row is a drop.
        if (++unknownInARow_ < 2)
            return;
        state = LineState::Down;
    }
    unknownInARow_ = 0;
    const bool lineWasUp = state == LineState::Up;
    if (lineWasUp) {
        if (!started_) {
            addtime();
            started_ = true;
        }
    } else {
        logEvent(QStringLiteral("线路断开：%1").arg(dialer_.entryname()));
        boxes().show(QStringLiteral("网络连接失败，请检查你的用户名和密码是否正确，或者你的网络设备是否连接好！"),
                     QStringLiteral("连接失败"));
        if (boxes().ask(QStringLiteral("是否重新连接？"), QStringLiteral("询问")) == platform::Answer::Ok)
            dialer_.conutionadd();
        else
            endProgram();
    }
    bool counted = false;
    if (started_ && dialer_.testc()) {
        counted = true;
        // After a redial in this tick the new row gets the tick's one minute, as ever.
        gtime(lineWasUp ? due : 1);
        Text1->setText(QString::number(usage_.minutes()));
    } else if (boxes().ask(QStringLiteral("网络已经断开了，是否关闭计时程序？"), QStringLiteral("询问"))
               == platform::Answer::Ok) {
        endProgram();
    }
    // What fell due while the line was found down (its questions open) counts nothing.
    if (!lineWasUp || !counted)
        ticksCounted_ = Timer1->intervalsElapsed();
}

void Form3::addtime()
{
    usage_.start(services_.session.guser, services_.clock.now());
}

void Form3::gtime(qint64 minutes)
{
    usage_.advance(services_.clock.now(), minutes);
}

void Form3::setTimerInterval(int milliseconds)
{
    // The timer starts its count anew, and so does the window: what fell due before, while
    // the line was down, counts nothing.
    Timer1->setInterval(milliseconds);
    ticksCounted_ = 0;
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
    if (boxes().ask(QStringLiteral("你确定要断开网络连接吗？"), QStringLiteral("断开连接"))
        != platform::Answer::Ok)
        return;
    dialer_.hangUpAll();
    usage_.finish(services_.clock.now());
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
