#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontInfo>
#include <QLineEdit>
#include <QLockFile>

#include <sys/stat.h>
#include <unistd.h>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "platform/MessageBoxes.h"
#include "platform/OtherCopy.h"
#include "platform/widgets/Fonts.h"
#include "platform/widgets/LinuxProgramLauncher.h"
#include "platform/widgets/QtMessageBoxes.h"
#include "tests/doubles/EnvironmentVariable.h"
#include "tests/doubles/ScriptFolder.h"

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

// The second copy sees the first and asks it, over the local socket, to show its window;
// when the first has gone, the second holds the lock and answers the asks itself.
TEST(LockFileOtherCopy, ASecondCopyOfTheSameUserSeesTheFirstAndAsksItToShow)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    auto first = std::make_unique<platform::LockFileOtherCopy>(QStringLiteral("probe"));
    EXPECT_FALSE(first->running());
    EXPECT_FALSE(first->running()) << "the holder itself is no other copy";
    int firstAsked = 0;
    first->onAskedToShow([&] { ++firstAsked; });
    platform::LockFileOtherCopy second(QStringLiteral("probe"));
    EXPECT_TRUE(second.running());
    second.askToShow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return firstAsked == 1; }, 5000));

    first.reset();
    EXPECT_FALSE(second.running());
    int secondAsked = 0;
    second.onAskedToShow([&] { ++secondAsked; });
    platform::LockFileOtherCopy third(QStringLiteral("probe"));
    EXPECT_TRUE(third.running());
    third.askToShow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return secondAsked == 1; }, 5000));
    EXPECT_EQ(firstAsked, 1);
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

QString otherCopyErrorOf(platform::LockFileOtherCopy& copy)
{
    try {
        copy.running();
    } catch (const platform::OtherCopyError& error) {
        return error.message();
    }
    return {};
}

TEST(LockFileOtherCopy, WithoutARuntimeFolderTheLockLivesInAFolderOfTheUsersOwn)
{
    QTemporaryDir temp;
    doubles::EnvironmentVariable runtime("XDG_RUNTIME_DIR", QByteArray());
    doubles::EnvironmentVariable tmpdir("TMPDIR", temp.path().toUtf8());
    const QString own = temp.filePath(QStringLiteral("horavo-%1").arg(::getuid()));

    platform::LockFileOtherCopy first(QStringLiteral("probe"));
    EXPECT_FALSE(first.running());
    EXPECT_TRUE(first.lockPath().startsWith(own + u'/')) << first.lockPath().toStdString();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(own).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    platform::LockFileOtherCopy second(QStringLiteral("probe"));
    EXPECT_TRUE(second.running());
}

TEST(LockFileOtherCopy, AFolderPlantedByAnotherUserOrOpenToOthersIsRefusedByName)
{
    QTemporaryDir temp;
    doubles::EnvironmentVariable runtime("XDG_RUNTIME_DIR", QByteArray());
    doubles::EnvironmentVariable tmpdir("TMPDIR", temp.path().toUtf8());
    const QString own = temp.filePath(QStringLiteral("horavo-%1").arg(::getuid()));
    ASSERT_EQ(::mkdir(QFile::encodeName(own).constData(), 0777), 0);
    ::chmod(QFile::encodeName(own).constData(), 0777);

    platform::LockFileOtherCopy copy(QStringLiteral("probe"));
    QString message = otherCopyErrorOf(copy);
    EXPECT_TRUE(message.contains(own)) << message.toStdString();
    EXPECT_NE(message, QStringLiteral("程序已经运行！！！"));

    if (::getuid() == 0) { // only root can give the folder to another user
        ::chmod(QFile::encodeName(own).constData(), 0700);
        ASSERT_EQ(::chown(QFile::encodeName(own).constData(), 65534, 65534), 0);
        message = otherCopyErrorOf(copy);
        EXPECT_TRUE(message.contains(own)) << message.toStdString();
    }
}

TEST(LockFileOtherCopy, ARuntimeFolderWhereNoLockCanBeMadeIsNamed)
{
    QTemporaryDir temp;
    const QString notAFolder = temp.filePath(QStringLiteral("plain-file"));
    QFile file(notAFolder);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    doubles::EnvironmentVariable runtime("XDG_RUNTIME_DIR", notAFolder.toUtf8());
    platform::LockFileOtherCopy copy(QStringLiteral("probe"));
    const QString message = otherCopyErrorOf(copy);
    EXPECT_TRUE(message.contains(notAFolder)) << message.toStdString();
}

// Opens a page with a stand-in xdg-open first on PATH, made of `script`; returns the
// launcher's failure text, empty when it reported none.
QString openPageWith(const QString& script)
{
    doubles::ScriptFolder bin;
    bin.write(QStringLiteral("xdg-open"), script);
    doubles::EnvironmentVariable path("PATH", (bin.path() + QStringLiteral(":/usr/bin:/bin")).toUtf8());
    try {
        platform::LinuxProgramLauncher().openPage(QUrl(QStringLiteral("https://horavo.example.org/")));
    } catch (const platform::LaunchError& error) {
        return error.message();
    }
    return {};
}

TEST(LinuxProgramLauncher, APageThatXdgOpenCannotOpenIsReportedWithItsReason)
{
    const QString refused =
        openPageWith(QStringLiteral("echo \"xdg-open: no method available for opening '$1'\" >&2\nexit 3"));
    EXPECT_TRUE(refused.contains(QStringLiteral("no method available"))) << refused.toStdString();
    EXPECT_TRUE(refused.contains(QStringLiteral("https://horavo.example.org/"))) << refused.toStdString();

    const QString killed = openPageWith(QStringLiteral("kill -9 $$"));
    EXPECT_TRUE(killed.contains(QStringLiteral("信号 9"))) << killed.toStdString();

    EXPECT_EQ(openPageWith(QStringLiteral("exit 0")), QString()) << "handed over: nothing to report";
}

TEST(LinuxProgramLauncher, AnXdgOpenThatStaysIsTheBrowserAndIsLeftToRun)
{
    QTemporaryDir marks;
    const QString mark = marks.filePath(QStringLiteral("still-running"));
    const QString failure = openPageWith(QStringLiteral("sleep 6; touch ") + mark);
    EXPECT_EQ(failure, QString());
    EXPECT_FALSE(QFile::exists(mark)) << "the launcher did not wait for the browser to end";
}

TEST(LinuxProgramLauncher, SignovaIsStartedWithoutWaitingAndReapedOnceItEnds)
{
    doubles::ScriptFolder bin;
    const QString pidFile = bin.path() + QStringLiteral("/pid");
    const QString signova = bin.write(QStringLiteral("signova"), QStringLiteral("sleep 1\necho $$ > '%1'").arg(pidFile));
    QElapsedTimer clock;
    clock.start();
    platform::LinuxProgramLauncher(signova).startSignova();
    EXPECT_LT(clock.elapsed(), 900);
    ASSERT_TRUE(QTest::qWaitFor([&pidFile] { return QFileInfo(pidFile).size() > 0; }, 10000));
    QFile written(pidFile);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(doubles::goneWithin(written.readAll().trimmed().toLongLong(), 6000)) << "not left a zombie";
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
