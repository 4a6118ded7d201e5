#pragma once

#include <QList>
#include <QString>

#include "platform/line/LineService.h"

namespace platform {
class MessageBoxes;
}

namespace tallyon {

class CommandRunner;
struct Session;

// What the line test learns: a connection of the watched entry is up, none is, or the
// line service could not tell (its query failed or took too long).
enum class LineState { Up, Down, Unknown };

// What the dialer reaches in the timer window.
class DialerHost {
public:
    virtual ~DialerHost() = default;
    virtual void addtime() = 0;                    // starts a usage row
    virtual void setStarted(bool started) = 0;     // the recording flag
    virtual void setTimerInterval(int milliseconds) = 0;
    virtual void showLoginWindow() = 0;            // modeless
    virtual void requestUnload() = 0;              // the timer window refuses and hides

    // A dial of `entry` began; each line rasdial writes, as it writes it; the dial ended.
    virtual void dialStarted(const QString& entry) { Q_UNUSED(entry) }
    virtual void dialProgress(const QString& line) { Q_UNUSED(line) }
    virtual void dialEnded() {}
    // Whether the user asked to stop the dial that runs; asked again and again meanwhile.
    virtual bool dialCancelled() { return false; }
    // One line for the program's log (standard error): a dial's outcome, a hang-up.
    virtual void logEvent(const QString& line) { Q_UNUSED(line) }
};

// The broadband dialer of the timer window: the phonebook entry to watch, the line
// test, dialing with the account in use, and hanging up.
class Dialer {
public:
    Dialer(platform::LineService& line, CommandRunner& runner, platform::MessageBoxes& boxes,
           Session& session, DialerHost& host);

    void discoverEntryName();          // sets entryname()
    const QString& entryname() const { return entryname_; }
    // Whether a connection of entryname() is active; its handle, which no later
    // connection shares, goes to `found`.
    LineState lineState(QString* found = nullptr);
    bool testc();                      // lineState() == LineState::Up
    void conutionadd();                // dials with the first account in use
    // Every active connection, which it returns; throws LineUnknown.
    QList<platform::ActiveConnection> hangUpAll();

    bool dialing() const { return dialing_; }   // inside conutionadd()

private:
    // After a failed dial: hangs up what it left up; returns what the user must be told
    // besides the failure, when the line may still be up.
    QString hangUpAfterFailedDial();

    platform::LineService& line_;
    CommandRunner& runner_;
    platform::MessageBoxes& boxes_;
    Session& session_;
    DialerHost& host_;
    QString entryname_;
    bool dialing_ = false;
};

} // namespace tallyon
