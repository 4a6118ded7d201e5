#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "platform/widgets/Form.h"
#include "platform/widgets/Forms.h"
#include "rules/Failure.h"
#include "tests/doubles/RecordingProgram.h"
#include "tests/doubles/ScriptedMessageBoxes.h"

namespace {

// A window that records what happened to it.
class ProbeForm final : public platform::Form {
public:
    ProbeForm(platform::Forms& forms, platform::MessageBoxes& boxes, int& loads)
        : Form(forms, boxes), loads_(loads)
    {
        ok = new QPushButton(QStringLiteral("OK"), this);
        cancel = new QPushButton(QStringLiteral("Cancel"), this);
        other = new QPushButton(QStringLiteral("Other"), this);
        ok->move(0, 0);
        cancel->move(0, 40);
        other->move(0, 80);
        setDefaultButton(ok);
        setCancelButton(cancel);
        connect(ok, &QPushButton::clicked, [this] { ++okClicks; });
        connect(cancel, &QPushButton::clicked, [this] { ++cancelClicks; });
        connect(other, &QPushButton::clicked, [this] { ++otherClicks; });
    }

    void fail(const std::function<void()>& fn) { handle(fn); }

    bool refuseUnload = false;
    bool visibleDuringLoad = true;
    int okClicks = 0;
    int cancelClicks = 0;
    int otherClicks = 0;
    QPushButton* ok;
    QPushButton* cancel;
    QPushButton* other;

protected:
    void Form_Load() override
    {
        ++loads_;
        visibleDuringLoad = isVisible();
    }
    bool Form_QueryUnload() override { return !refuseUnload; }

private:
    int& loads_;
};

class FormLifecycle : public ::testing::Test {
protected:
    doubles::RecordingProgram program;
    doubles::ScriptedMessageBoxes boxes;
    platform::Forms forms{program};
    int loads = 0;

    void SetUp() override
    {
        forms.define(QStringLiteral("A"), [this] { return new ProbeForm(forms, boxes, loads); });
        forms.define(QStringLiteral("B"), [this] { return new ProbeForm(forms, boxes, loads); });
    }
    ProbeForm* a() { return static_cast<ProbeForm*>(forms.find(QStringLiteral("A"))); }
};

TEST_F(FormLifecycle, LoadRunsTheLoadHandlerOnceAndKeepsTheWindowHidden)
{
    auto& form = forms.load(QStringLiteral("A"));
    forms.load(QStringLiteral("A"));
    EXPECT_EQ(loads, 1);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(a()->visibleDuringLoad);
    EXPECT_EQ(forms.loadedCount(), 1);
}

TEST_F(FormLifecycle, ShowLoadsFirstThenShows)
{
    auto& form = forms.show(QStringLiteral("A"));
    EXPECT_EQ(loads, 1);
    EXPECT_TRUE(form.isVisible());
}

TEST_F(FormLifecycle, AWindowShownAgainAfterUnloadIsANewOne)
{
    forms.show(QStringLiteral("A"));
    forms.show(QStringLiteral("B"));
    QPointer<platform::Form> first = a();
    forms.unload(QStringLiteral("A"));
    EXPECT_EQ(forms.find(QStringLiteral("A")), nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    forms.show(QStringLiteral("A"));
    EXPECT_EQ(loads, 3);
    EXPECT_NE(a(), nullptr);
}

TEST_F(FormLifecycle, TheProgramEndsWhenItsLastWindowIsUnloaded)
{
    forms.show(QStringLiteral("A"));
    forms.load(QStringLiteral("B"));
    forms.unload(QStringLiteral("A"));
    EXPECT_FALSE(program.ended());
    forms.unload(QStringLiteral("B"));
    EXPECT_EQ(program.endedNormally, 1);
}

TEST_F(FormLifecycle, AWindowThatUnloadsItsOpenerDuringItsOwnLoadKeepsTheProgramRunning)
{
    forms.show(QStringLiteral("A"));
    forms.define(QStringLiteral("C"), [this] {
        auto* form = new ProbeForm(forms, boxes, loads);
        return form;
    });
    forms.load(QStringLiteral("C"));
    forms.unload(QStringLiteral("A"));
    EXPECT_FALSE(program.ended());
}

TEST_F(FormLifecycle, ARefusedUnloadKeepsTheWindowLoaded)
{
    forms.show(QStringLiteral("A"));
    a()->refuseUnload = true;
    a()->close();
    EXPECT_NE(a(), nullptr);
    EXPECT_TRUE(a()->loaded());
    EXPECT_FALSE(program.ended());
}

TEST_F(FormLifecycle, ClosingFromTheTitleBarUnloads)
{
    forms.show(QStringLiteral("A"));
    a()->close();
    EXPECT_EQ(forms.find(QStringLiteral("A")), nullptr);
    EXPECT_EQ(program.endedNormally, 1);
}

TEST_F(FormLifecycle, AFailureInAHandlerBecomesOneMessageBoxWithItsText)
{
    forms.show(QStringLiteral("A"));
    a()->fail([] { throw horavo::Failure(QStringLiteral("磁盘已满")); });
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("磁盘已满"));
    a()->fail([] { throw std::bad_alloc(); });
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.last().prompt, QStringLiteral("std::bad_alloc"));
    EXPECT_EQ(boxes.last().title, QStringLiteral("Pomerix"));
    EXPECT_EQ(boxes.last().buttons, platform::Buttons::Ok);
}

TEST_F(FormLifecycle, EndingAtOnceInsideAHandlerStopsItSilently)
{
    forms.show(QStringLiteral("A"));
    bool after = false;
    a()->fail([&] {
        program.endAtOnce();
        after = true;
    });
    EXPECT_FALSE(after);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(program.endedAtOnce, 1);

    bool another = false;
    a()->fail([&] { another = true; });
    EXPECT_FALSE(another) << "no handler runs after the program ended";
}

TEST_F(FormLifecycle, EnterClicksTheDefaultButtonAndEscTheCancelButton)
{
    forms.show(QStringLiteral("A"));
    a()->setFocus();
    QTest::keyClick(a(), Qt::Key_Return);
    QTest::keyClick(a(), Qt::Key_Escape);
    EXPECT_EQ(a()->okClicks, 1);
    EXPECT_EQ(a()->cancelClicks, 1);
}

TEST_F(FormLifecycle, EnterOnAFocusedButtonClicksThatButton)
{
    forms.show(QStringLiteral("A"));
    QApplication::setActiveWindow(a());
    a()->other->setFocus();
    QTest::keyClick(a()->other, Qt::Key_Return);
    EXPECT_EQ(a()->otherClicks, 1);
    EXPECT_EQ(a()->okClicks, 0);
}

} // namespace
