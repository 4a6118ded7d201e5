#pragma once

#include <memory>

#include <QCoreApplication>
#include <QEvent>

#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "platform/widgets/Forms.h"
#include "tests/doubles/FakeClock.h"
#include "tests/doubles/FakeCommandRunner.h"
#include "tests/doubles/FakeLineService.h"
#include "tests/doubles/FakeOtherCopy.h"
#include "tests/doubles/ManualTimer.h"
#include "tests/doubles/RecordingLauncher.h"
#include "tests/doubles/RecordingProgram.h"
#include "tests/doubles/ScriptedMessageBoxes.h"

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
