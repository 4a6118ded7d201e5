#pragma once

#include <memory>

#include "main_program/dialer/Dialer.h"
#include "main_program/timer/DialWindow.h"
#include "main_program/timer/TickGate.h"
#include "main_program/timer/Meter.h"
#include "platform/widgets/Form.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class Timer;
class TrayIcon;
} // namespace platform
namespace store {
class RecordSet;
}

namespace tallyon {

struct Services;

// The timer window "计时查看器": loaded hidden after an ordinary user's log-in, it closes
// the login window, finds the broadband line up or dials it, and then counts the
// connection's minutes into one `internet` row per connection while it sits behind its
// icon in the notification area. It never unloads: closing it hides it.
class Form3 final : public platform::Form, public DialerHost {
    Q_OBJECT
public:
    explicit Form3(Services& services, QWidget* parent = nullptr);
    ~Form3() override;

    QLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    std::unique_ptr<platform::Timer> Timer1;

    void Timer1_Timer();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    // Hides the window and its owner; on a desktop without a notification area, where
    // nothing could bring it back, it is minimized instead.
    void hidey();
    // The release of the left button over the icon, or its menu's "显示计时窗口".
    void restore();

    // A usage row was started in this run and its connection has not ended.
    bool started() const { return meter_.recording(); }
    const Meter& meter() const { return meter_; }
    // The program was asked to end but waits for minutes it could not yet write.
    bool endingWhenWritten() const { return ending_; }
    Dialer& dialer() { return dialer_; }

    // DialerHost
    void addtime() override;
    // The meter knows whether a row was started (one that could not be written was not).
    void setStarted(bool) override {}
    void setTimerInterval(int milliseconds) override;
    void showLoginWindow() override;
    void requestUnload() override;
    void dialStarted(const QString& entry) override;
    void dialProgress(const QString& line) override;
    void dialEnded() override;
    bool dialCancelled() override;
    void logEvent(const QString& line) override;

    // The window that shows a dial in progress, while one runs.
    DialWindow* dialWindow() const { return dialWindow_.get(); }

    // "Pomerix(版本 1.0.27)"
    static QString trayTip(const QString& applicationTitle);

protected:
    void Form_Load() override;
    void Form_LoadAgain() override;
    // Every event of the window runs through the tick gate, then the error path.
    void runEvent(const std::function<void()>& handler) override;
    bool Form_QueryUnload() override;

private:
    void loadSteps();
    void tick();
    void setUpTrayIcon();
    // Ends the program at once, once every minute counted is written; until then it
    // says so and tries again at every tick.
    void endProgram();
    // A look at the line, remembered in lastLook_.
    Sighting look();
    // A look while the tick is held, for the minutes that fall due meanwhile.
    void watch();
    // Intervals fallen due in this run, across the restarts of the timer.
    qint64 intervalsDue() const;
    // A connection whose row cannot be written may not stay up.
    void refuseUnrecordedConnection(const QString& failure);

    Services& services_;
    std::unique_ptr<store::RecordSet> rsinternet;
    qint64 intervalBase_ = 0;    // intervals that fell due before the timer's last restart
    int unknownInARow_ = 0;      // ticks in a row that could not learn the line's state
    Sighting lastLook_;
    bool looking_ = false;       // a look at the line is under way (it runs events)
    bool dropDialogue_ = false;  // the questions of a dropped line are open
    bool ending_ = false;
    Dialer dialer_;
    Meter meter_;
    TickGate gate_;
    std::unique_ptr<platform::TrayIcon> tray_;
    std::unique_ptr<DialWindow> dialWindow_;
};

} // namespace tallyon
