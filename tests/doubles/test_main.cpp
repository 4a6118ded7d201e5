#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include "platform/widgets/Desktop.h"
#include "tests/doubles/TestExitCode.h"

namespace {

// A test that opens a real modal box and closes it from a timer callback would hang
// until CTest's timeout if an assertion failed inside that callback before the close.
// The watchdog closes any modal window left open for several seconds, and the test
// fails with a message that says so.
class ModalWatchdog {
public:
    explicit ModalWatchdog(int patienceSeconds) : patience_(patienceSeconds)
    {
        timer_.setInterval(1000);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { check(); });
        timer_.start();
    }

private:
    void check()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal != last_) {
            last_ = modal;
            seconds_ = 0;
            return;
        }
        if (++seconds_ < patience_)
            return;
        ADD_FAILURE() << "a modal window was left open for " << seconds_ << " s: "
                      << modal->metaObject()->className() << " \"" << modal->windowTitle().toStdString() << '"';
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        last_ = nullptr;
        seconds_ = 0;
    }

    QTimer timer_;
    QWidget* last_ = nullptr;
    int seconds_ = 0;
    int patience_;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::prepareDesktop();
    ModalWatchdog watchdog(10);
    ::testing::InitGoogleTest(&argc, argv);
    return testExitCode(RUN_ALL_TESTS());
}
