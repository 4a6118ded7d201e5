#pragma once

#include <memory>

#include <QCoreApplication>
#include <QEvent>

#include "FakeClock.h"
#include "FakeCommandRunner.h"
#include "FakeLineService.h"
#include "FakeOtherCopy.h"
#include "Forms.h"
#include "ManualTimer.h"
#include "RecordingLauncher.h"
#include "RecordingProgram.h"
#include "ScriptedMessageBoxes.h"
#include "Services.h"
#include "Session.h"

namespace doubles {

// Every service a Tallyon window reaches, as doubles, bundled for a window test. Needs
// the include folders of tallyon_common and tallyon_dialer (link those).
struct WindowServices {
    RecordingProgram program;
    ScriptedMessageBoxes boxes;
    platform::Forms forms{program};
    RecordingLauncher launcher;
    FakeOtherCopy otherCopy{false};
    FakeClock clock;
    FakeLineService line;
    FakeCommandRunner runner;
    tallyon::Session session;
    tallyon::Services services{forms, boxes, program, launcher, otherCopy, clock, line, runner, session,
                               [] { return std::make_unique<ManualTimer>(); }, {}};

    ~WindowServices()
    {
        // Windows unloaded during the test are waiting to be deleted.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

} // namespace doubles
