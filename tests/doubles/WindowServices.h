#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "platform/widgets/Forms.h"
#include "tests/doubles/FakeClock.h"
#include "tests/doubles/FakeCommandRunner.h"
#include "tests/doubles/FakeLineService.h"
#include "tests/doubles/FakeOtherCopy.h"
#include "tests/doubles/FakeTrayIcon.h"
#include "tests/doubles/ManualTimer.h"
#include "tests/doubles/RecordingLauncher.h"
#include "tests/doubles/RecordingProgram.h"
#include "tests/doubles/ScriptedMessageBoxes.h"

namespace doubles {

// As in Qt's own tests, no top-level window may outlive the test that made it. Made
// first and destroyed last, after the windows that the fixture owns have gone.
struct NoWindowOutlivesTheTest {
    NoWindowOutlivesTheTest() = default;
    NoWindowOutlivesTheTest(const NoWindowOutlivesTheTest&) = delete;
    NoWindowOutlivesTheTest& operator=(const NoWindowOutlivesTheTest&) = delete;
    ~NoWindowOutlivesTheTest()
    {
        // Windows unloaded during the test are waiting to be deleted.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWidget* window : QApplication::topLevelWidgets()) {
            ADD_FAILURE() << "a window outlived its test: " << window->metaObject()->className() << " \""
                          << window->windowTitle().toStdString() << '"';
            delete window;
        }
    }
};

// Every service a Tallyon window reaches, as doubles: the one fixture of the window
// tests. The timer and the icon a window makes are kept for the test to drive; makeTray
// may be replaced before a window is made (to give it the real icon, say).
struct WindowServices {
    NoWindowOutlivesTheTest noWindowOutlivesTheTest;
    RecordingProgram program;
    ScriptedMessageBoxes boxes;
    platform::Forms forms{program};
    RecordingLauncher launcher;
    FakeOtherCopy otherCopy{false};
    FakeClock clock;
    FakeLineService line;
    FakeCommandRunner runner;
    tallyon::Session session;

    QStringList events;                    // the program's log lines
    ManualTimer* timer = nullptr;          // the last timer a window made
    FakeTrayIcon* tray = nullptr;          // the last icon a window made
    bool desktopHasNotificationArea = true;
    std::function<std::unique_ptr<platform::TrayIcon>()> makeTray = [this] {
        auto icon = std::make_unique<FakeTrayIcon>(desktopHasNotificationArea);
        tray = icon.get();
        return icon;
    };

    tallyon::Services services{forms, boxes, program, launcher, otherCopy, clock, line, runner, session,
                               [this] {
                                   auto made = std::make_unique<ManualTimer>();
                                   timer = made.get();
                                   return made;
                               },
                               [this] { return makeTray(); },
                               [this](const QString& line) { events << line; }};

    ~WindowServices()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

} // namespace doubles
