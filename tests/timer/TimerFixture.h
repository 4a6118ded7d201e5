#pragma once

#include <memory>

#include <QCoreApplication>
#include <QEvent>

#include <gtest/gtest.h>

#include <QStringList>

#include "main_program/common/Services.h"
#include "main_program/common/Session.h"
#include "main_program/common/WindowNames.h"
#include "main_program/timer/TimerWindow.h"
#include "platform/TrayIcon.h"
#include "platform/widgets/Forms.h"
#include "tests/doubles/QtPrinters.h"
#include "tests/doubles/StandInForm.h"
#include "tests/doubles/TempDatabase.h"
#include "tests/doubles/WindowServices.h"

namespace timertest {

inline const QString kDropped =
    QStringLiteral("网络连接失败，请检查你的用户名和密码是否正确，或者你的网络设备是否连接好！");
inline const QString kRedial = QStringLiteral("是否重新连接？");
inline const QString kCloseTimer = QStringLiteral("网络已经断开了，是否关闭计时程序？");
inline const QString kDisconnect = QStringLiteral("你确定要断开网络连接吗？");

// The timer window with every service it reaches doubled: a fresh horavo.mdb with one
// account in use, a line and rasdial scripted by the test, a timer that ticks when the
// test says, a clock that moves a minute per tick, and stand-ins for the other windows.
class TimerWindowTest : public ::testing::Test, protected doubles::WithTempDatabase, protected doubles::WindowServices {
protected:
    bool dialConnects = true;          // the dial brings the line up
    std::function<void()> whileDialing; // runs while rasdial is "waiting"
    QStringList windowLog;

    void SetUp() override
    {
        session.guser = QStringLiteral("alice");
        line.entries = {QStringLiteral("宽带连接")};
        doubles::defineStandIns(forms, boxes, {tallyon::windows::login, tallyon::windows::history}, windowLog);
        forms.define(tallyon::windows::timer, [this] { return new tallyon::Form3(services); });
        db.exec(QStringLiteral("insert into knumber (kuser, kpassw, useyn, price) values ('acct', 'pw', 1, 2)"));
        forms.show(tallyon::windows::login);
        runner.output = QStringLiteral("正在连接到 宽带连接...\n已连接 宽带连接。\n命令已完成。\n");
        runner.onRun = [this] {
            if (whileDialing)
                whileDialing();
            if (dialConnects)
                line.connect();
        };
    }

    // rasdial refuses the account.
    void refuseWith691()
    {
        dialConnects = false;
        runner.output = QStringLiteral(
            "正在连接到 宽带连接...\n远程访问错误 691 - 因为用户名和/或密码在此域上无效，所以访问被拒绝。\n");
    }

    QStringList dialed() const
    {
        QStringList commands;
        for (const auto& run : runner.runs)
            commands << run.command;
        return commands;
    }

    tallyon::Form3& form() { return static_cast<tallyon::Form3&>(*forms.find(tallyon::windows::timer)); }

    tallyon::Form3& load()
    {
        return static_cast<tallyon::Form3&>(forms.load(tallyon::windows::timer));
    }

    // One minute passes and the timer fires.
    void tick()
    {
        clock.advanceMinutes(1);
        timer->fire();
    }

    // Every usage row as "iuser|idate|itime|stime|xtime".
    QStringList usageRows() const
    {
        return db.rows(QStringLiteral("select iuser, idate, itime, stime, xtime from internet order by rowid"));
    }

    QString now() const { return clock.now().time().toString(QStringLiteral("HH:mm:ss")); }

    // The boxes shown since the count given, by prompt.
    QStringList promptsSince(std::size_t first) const
    {
        QStringList prompts;
        for (std::size_t i = first; i < boxes.shown.size(); ++i)
            prompts << boxes.shown[i].prompt;
        return prompts;
    }
};

} // namespace timertest
