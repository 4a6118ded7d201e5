// The dial window's way out: its "取消" button, by mouse and by keyboard, and a cancel
// that reaches the dial the timer window runs.

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "main_program/timer/DialWindow.h"
#include "tests/timer/TimerFixture.h"

namespace timertest {
namespace {

QPushButton* cancelButton(const QWidget& window)
{
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("取消"))
            return button;
    }
    return nullptr;
}

TEST(DialWindow, CancelButtonByMouseAndKeyboard)
{
    tallyon::DialWindow clicked(QStringLiteral("宽带连接"));
    clicked.show();
    QPushButton* button = cancelButton(clicked);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->accessibleName(), QStringLiteral("取消拨号"));
    EXPECT_FALSE(clicked.cancelled());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(clicked.cancelled());
    EXPECT_FALSE(button->isEnabled()) << "asked once";

    tallyon::DialWindow keyboard(QStringLiteral("宽带连接"));
    keyboard.show();
    button = cancelButton(keyboard);
    auto* progress = keyboard.findChild<QPlainTextEdit*>();
    EXPECT_EQ(keyboard.focusWidget(), button) << "the focus, once the window is activated";
    QTest::keyClick(button, Qt::Key_Tab);
    ASSERT_EQ(keyboard.focusWidget(), progress);
    QTest::keyClick(progress, Qt::Key_Return);
    EXPECT_FALSE(keyboard.cancelled()) << "Enter in the progress lines cancels nothing";
    QTest::keyClick(progress, Qt::Key_Tab);
    ASSERT_EQ(keyboard.focusWidget(), button) << "Tab comes back to the button";
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_TRUE(keyboard.cancelled());

    tallyon::DialWindow escaped(QStringLiteral("宽带连接"));
    escaped.show();
    QTest::keyClick(escaped.findChild<QPlainTextEdit*>(), Qt::Key_Escape);
    EXPECT_TRUE(escaped.cancelled());

    tallyon::DialWindow closed(QStringLiteral("宽带连接"));
    closed.show();
    closed.close();
    EXPECT_TRUE(closed.cancelled());
    EXPECT_TRUE(closed.isVisible()) << "it goes once the dial has ended";
}

TEST_F(TimerWindowTest, CancelInTheDialWindowEndsTheDialAndHangsUpWhatItBroughtUp)
{
    whileDialing = [this] {
        tallyon::DialWindow* window = form().dialWindow();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([window] { return window->isVisible(); }, 3000));
        QTest::mouseClick(cancelButton(*window), Qt::LeftButton);
    };
    load(); // the fake rasdial brings the line up, as a real one stopped after connecting would

    EXPECT_EQ(promptsSince(0), QStringList{QStringLiteral("拨号已取消。")});
    EXPECT_FALSE(line.up());
    EXPECT_TRUE(events.contains(QStringLiteral("挂断 宽带连接（连接 1）：拨号失败")));
    EXPECT_EQ(form().dialWindow(), nullptr);
    EXPECT_TRUE(usageRows().isEmpty()) << "a cancelled dial bills nothing";
}

} // namespace
} // namespace timertest
