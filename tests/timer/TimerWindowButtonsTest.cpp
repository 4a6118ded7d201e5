// The buttons, the refused unload and the notification-area icon of the timer window.

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>

#include "platform/tray/QtTrayIcon.h"
#include "rules/Version.h"
#include "tests/timer/TimerFixture.h"

using platform::Answer;
using platform::Buttons;
using tallyon::Form3;
namespace windows = tallyon::windows;

namespace timertest {
namespace {

TEST_F(TimerWindowTest, DisconnectConfirmedHangsUpWritesTheEndAndEnds)
{
    Form3& form = load();
    tick();
    line.connect(QStringLiteral("VPN")); // every connection goes, whatever its entry
    clock.set(clock.now().addSecs(25));
    boxes.answerNext(Answer::Ok);
    QTest::mouseClick(form.Command1, Qt::LeftButton);

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, kDisconnect);
    EXPECT_EQ(boxes.last().title, QStringLiteral("断开连接"));
    EXPECT_EQ(boxes.last().buttons, Buttons::OkCancel);
    EXPECT_EQ(line.hungUp, (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_FALSE(line.up());
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:31:25")});
    EXPECT_EQ(program.endedAtOnce, 1);
}

TEST_F(TimerWindowTest, DisconnectCancelledChangesNothing)
{
    Form3& form = load();
    boxes.answerNext(Answer::Cancel);
    QTest::mouseClick(form.Command1, Qt::LeftButton);

    EXPECT_TRUE(line.hungUp.isEmpty());
    EXPECT_TRUE(line.up());
    EXPECT_EQ(program.endedAtOnce, 0);
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:31:00")});
}

TEST_F(TimerWindowTest, ShowTimeOpensTheHistoryAndHides)
{
    Form3& form = load();
    form.restore();
    ASSERT_TRUE(form.isVisible());
    QTest::mouseClick(form.Command2, Qt::LeftButton);

    EXPECT_NE(forms.find(windows::history), nullptr);
    EXPECT_TRUE(windowLog.contains(QStringLiteral("show form2")));
    EXPECT_FALSE(form.isVisible());
    tick();
    EXPECT_EQ(form.Text1->text(), QStringLiteral("2")) << "timing goes on";
}

TEST_F(TimerWindowTest, CancelHides)
{
    Form3& form = load();
    form.restore();
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_NE(forms.find(windows::timer), nullptr);
}

TEST_F(TimerWindowTest, ClosingHidesAndTheWindowStaysLoaded)
{
    Form3& form = load();
    form.restore();
    ASSERT_TRUE(form.isVisible());
    EXPECT_FALSE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.loaded());

    forms.unload(windows::timer); // as the dial asks when the account table is empty
    EXPECT_EQ(forms.find(windows::timer), &form);
    EXPECT_FALSE(program.ended());

    tick();
    tick();
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|3|09:30:00|09:32:00")});
}

TEST_F(TimerWindowTest, EmptyAccountTableHidesTheWindowWhichStaysLoaded)
{
    db.exec(QStringLiteral("delete from knumber"));
    Form3& form = load();
    EXPECT_EQ(boxes.prompts(), QStringList{QStringLiteral("对不起，卡号记录为空，请你用管理员的身份登录添加！")});
    EXPECT_NE(forms.find(windows::login), nullptr);
    EXPECT_EQ(forms.find(windows::timer), &form);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(timer->running());
}

TEST_F(TimerWindowTest, TheIconCarriesTheVersionAndBringsTheWindowBack)
{
    const QString tip = QStringLiteral("Pomerix(版本 %1.%2.%3)")
                            .arg(horavo::kVersionMajor).arg(horavo::kVersionMinor).arg(horavo::kVersionPatch);
    Form3& form = load();
    ASSERT_EQ(tray->adds, 1);
    EXPECT_EQ(tray->tip, tip);
    EXPECT_FALSE(tray->icon.isNull());
    EXPECT_FALSE(form.isVisible());

    tray->releaseLeftButton();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());

    QTest::mouseClick(form.Command3, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    tick();
    tick();
    EXPECT_EQ(tray->adds, 1) << "added once, never again";
    EXPECT_EQ(tray->tip, tip);
    tray->releaseLeftButton();
    EXPECT_TRUE(form.isVisible());
}

// The real icon: only a click (Trigger, the left button's release) restores.
TEST(QtTrayIconTest, OnlyTheLeftButtonReleaseReachesTheHandler)
{
    platform::QtTrayIcon icon;
    int restores = 0;
    icon.onLeftButtonRelease([&] { ++restores; });
    for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick,
                        QSystemTrayIcon::Unknown})
        emit icon.systemTrayIcon().activated(reason);
    EXPECT_EQ(restores, 0);
    emit icon.systemTrayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(restores, 1);
}

TEST(QtTrayIconTest, AddShowsTheIconWithItsTip)
{
    platform::QtTrayIcon icon;
    EXPECT_EQ(icon.available(), QSystemTrayIcon::isSystemTrayAvailable());
    QPixmap pixels(16, 16);
    pixels.fill(Qt::red);
    icon.add(QIcon(pixels), QStringLiteral("Pomerix(版本 1.0.27)"));
    EXPECT_EQ(icon.systemTrayIcon().toolTip(), QStringLiteral("Pomerix(版本 1.0.27)"));
    EXPECT_FALSE(icon.systemTrayIcon().icon().isNull());
    EXPECT_TRUE(icon.systemTrayIcon().isVisible());
}

// The menu's entries run what the icon's click and the window's "断开网路" run.
TEST_F(TimerWindowTest, TheRealIconRestoresTheWindowOnTriggerAndItsMenuAsTheControlsDo)
{
    platform::QtTrayIcon* real = nullptr;
    makeTray = [&] {
        auto icon = std::make_unique<platform::QtTrayIcon>();
        real = icon.get();
        return icon;
    };
    Form3& form = load();
    ASSERT_NE(real, nullptr);
    form.hide();
    emit real->systemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(form.isVisible());
    emit real->systemTrayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());

    ASSERT_EQ(real->systemTrayIcon().contextMenu(), &real->menu());
    const QList<QAction*> entries = real->menu().actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]->text(), QStringLiteral("显示计时窗口"));
    EXPECT_EQ(entries[1]->text(), QStringLiteral("断开网路"));
    form.hide();
    entries[0]->trigger();
    EXPECT_TRUE(form.isVisible());

    tick();
    boxes.answerNext(Answer::Cancel);
    entries[1]->trigger();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.last().prompt, kDisconnect);
    EXPECT_TRUE(line.up());
    boxes.answerNext(Answer::Ok);
    entries[1]->trigger();
    EXPECT_FALSE(line.up());
    EXPECT_EQ(usageRows(), QStringList{QStringLiteral("alice|2026-12-07|2|09:30:00|09:31:00")});
    EXPECT_EQ(program.endedAtOnce, 1);
}

} // namespace
} // namespace timertest
