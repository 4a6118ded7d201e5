#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QLineEdit>
#include <QLockFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "platform/MessageBoxes.h"
#include "platform/OtherCopy.h"
#include "platform/widgets/Fonts.h"
#include "platform/widgets/LinuxProgramLauncher.h"
#include "platform/widgets/QtMessageBoxes.h"

namespace {

// Answers the next modal box from inside its own event loop, as a person would.
void whenBoxAppears(std::function<void(QMessageBox&)> act)
{
    QTimer::singleShot(0, [act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        act(*box);
    });
}

QStringList buttonTexts(QMessageBox& box)
{
    QStringList texts;
    for (auto* button : box.buttons())
        texts << button->text();
    return texts;
}

TEST(QtMessageBoxes, AQuestionHasOkAndCancelAndNoIcon)
{
    platform::QtMessageBoxes boxes(QStringLiteral("Pomerix"));
    QStringList texts;
    QString title;
    QMessageBox::Icon icon = QMessageBox::Warning;
    whenBoxAppears([&](QMessageBox& box) {
        texts = buttonTexts(box);
        title = box.windowTitle();
        icon = box.icon();
        box.buttons().first()->click();
    });
    const auto answer = boxes.ask(QStringLiteral("是否重新连接？"), QStringLiteral("询问"));
    EXPECT_EQ(answer, platform::Answer::Ok);
    EXPECT_TRUE(texts.contains(QStringLiteral("确定")));
    EXPECT_TRUE(texts.contains(QStringLiteral("取消")));
    EXPECT_EQ(title, QStringLiteral("询问"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
}

TEST(QtMessageBoxes, ClosingAQuestionCountsAsCancel)
{
    platform::QtMessageBoxes boxes(QStringLiteral("Pomerix"));
    whenBoxAppears([](QMessageBox& box) { box.reject(); });
    EXPECT_EQ(boxes.ask(QStringLiteral("你确定要断开网络连接吗？")), platform::Answer::Cancel);
}

TEST(QtMessageBoxes, AMessageWithoutTitleCarriesTheApplicationTitleAndOnlyOk)
{
    platform::QtMessageBoxes boxes(QStringLiteral("注册"));
    QStringList texts;
    QString title;
    whenBoxAppears([&](QMessageBox& box) {
        texts = buttonTexts(box);
        title = box.windowTitle();
        box.reject();
    });
    boxes.show(QStringLiteral("注册成功！"));
    EXPECT_EQ(texts, QStringList{QStringLiteral("确定")});
    EXPECT_EQ(title, QStringLiteral("注册"));
}

TEST(LockFileOtherCopy, ASecondCopyOfTheSameUserSeesTheFirst)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    auto first = std::make_unique<platform::LockFileOtherCopy>(QStringLiteral("probe"));
    EXPECT_FALSE(first->running());
    EXPECT_FALSE(first->running()) << "the holder itself is no other copy";
    platform::LockFileOtherCopy second(QStringLiteral("probe"));
    EXPECT_TRUE(second.running());
    first.reset();
    EXPECT_FALSE(second.running());
}

TEST(LockFileOtherCopy, ACopyThatCrashedDoesNotBlockTheNextStart)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString path = platform::LockFileOtherCopy(QStringLiteral("crashy")).lockPath();

    const pid_t child = fork();
    if (child == 0) {
        QLockFile lock(path);
        lock.tryLock(0);
        ::_exit(0); // dies holding the lock file
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(QFile::exists(path));

    platform::LockFileOtherCopy next(QStringLiteral("crashy"));
    EXPECT_FALSE(next.running());
}

TEST(LinuxProgramLauncher, AProgramThatCannotBeFoundIsReported)
{
    platform::LinuxProgramLauncher launcher(QStringLiteral("no-such-program-horavo"));
    try {
        launcher.startSignova();
        FAIL() << "expected a launch error";
    } catch (const platform::LaunchError& error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("no-such-program-horavo")));
    }
}

TEST(Fonts, KaiTiAndSongMapToInstalledChineseFaces)
{
    EXPECT_TRUE(QFontInfo(platform::kaiTi(18, true)).family().contains(QStringLiteral("UKai")))
        << QFontInfo(platform::kaiTi(18)).family().toStdString();
    const QString song = QFontInfo(platform::song(12)).family();
    EXPECT_TRUE(song.contains(QStringLiteral("UMing")) || song.contains(QStringLiteral("WenQuanYi")))
        << song.toStdString();
}

TEST(Fonts, PasswordBoxesShowAStarForEveryCharacter)
{
    QLineEdit box;
    platform::makePasswordBox(box);
    box.setText(QStringLiteral("密码ab"));
    box.ensurePolished();
    EXPECT_EQ(box.displayText(), QStringLiteral("****"));
}

} // namespace
