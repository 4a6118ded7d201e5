// The bill against an oracle. Seeded random runs drive the real timer window through
// what happens to a line and a file: ticks, the line dropping, coming back with a new
// connection or not answering, the process stalled, a hang-up question held open while
// the line changes, redials that connect or are refused, the file locked by another
// writer, another writer taking or deleting the running row, a new log-in. After every
// step the file's rows are compared with the rows the bill rule gives, worked out here
// from what happened to the line, never from the window's own state.
// A failing run names its seed; TALLYON_ORACLE_SEED=N replays that run alone, and
// TALLYON_ORACLE_RUNS=N sets how many runs there are.
#include <numeric>
#include <optional>
#include <random>

#include <QPushButton>

#include "store/Connection.h"
#include "tests/doubles/FileWriteLock.h"
#include "tests/timer/TimerFixture.h"

using namespace std::chrono_literals;
using platform::Answer;

namespace timertest {
namespace {

struct ExpectedRow {
    QString user;
    qint64 minutes = 0;           // by the rule
    bool inFile = false;          // written at least once
    std::optional<qint64> taken{}; // another writer took it: it holds this, theirs now
    bool deleted = false;         // ... or deleted it
};

class BillOracle : public TimerWindowTest, public ::testing::WithParamInterface<unsigned> {
protected:
    void SetUp() override
    {
        TimerWindowTest::SetUp();
        savedTimeout = store::Connection::busyTimeout();
        savedWindow = store::Connection::retryWindow();
        store::Connection::setBusyTimeout(1ms);
        store::Connection::setRetryWindow(1ms);
        lock.emplace(db.path(), false);
        runner.onRun = [this] {
            if (dialConnects) {
                runner.output = QStringLiteral("正在连接到 宽带连接...\n已连接 宽带连接。\n命令已完成。\n");
                line.connect();
                changed = true;
            } else {
                runner.output = QStringLiteral("远程访问错误 691 - 访问被拒绝。\n");
            }
        };
        boxes.onShow = [this](const doubles::ShownBox& box) { answer(box); };
    }
    void TearDown() override
    {
        lock.reset();
        store::Connection::setBusyTimeout(savedTimeout);
        store::Connection::setRetryWindow(savedWindow);
    }

    bool chance(int percent) { return int(rng() % 100) < percent; }
    int between(int low, int high) { return low + int(rng() % unsigned(high - low + 1)); }

    // --- the world's steps, each with what the rule expects of it ----------------------

    void start()
    {
        session.guser = QStringLiteral("u0");
        if (chance(50))
            line.connect();
        const bool up = line.up();
        dialConnects = chance(70);
        if (up)
            begin();
        load();
        if (!up && dialConnects)
            begin();
        flushed = live >= 0;
    }

    void tick(qint64 unseen = 0)
    {
        clock.advanceMinutes(int(unseen) + 1);
        timer->elapseWithoutFiring(int(unseen));
        const bool up = line.up();
        const bool unknown = line.unknown;
        timer->fire();
        expectTick(unseen, up, unknown);
        flushed = true;
    }

    void drop()
    {
        if (line.up()) {
            line.drop();
            changed = true;
        }
    }

    void comeBack()
    {
        if (!line.up()) {
            line.connect();
            changed = true;
        }
    }

    // The process stops for a few minutes, and the line may drop and come back meanwhile.
    void stall()
    {
        if (chance(40)) {
            drop();
            comeBack();
        }
        tick(between(1, 4));
    }

    void unknownTick()
    {
        line.unknown = true;
        tick();
        line.unknown = false;
    }

    // "断开网路", its question held open for a few minutes while the line may change.
    void disconnect()
    {
        hold = between(0, 4);
        disconnectAnswer = chance(40) ? Answer::Ok : Answer::Cancel;
        form().Command1->click();
        if (disconnectAnswer == Answer::Ok) {
            // The intervals up to the hang-up count by the looks taken at them.
            bill(heldUp);
            heldUp = 0;
            line.drop();
            ending = true;
            flushed = true;
        } else if (held > 0) {
            expectTick(0, upAtRelease, false, true);   // the held tick runs once the question is answered
            flushed = true;
        }
        held = 0;
    }

    void toggleLock()
    {
        if (lock->held())
            lock->release();
        else
            lock->take();
    }

    // Another writer gives the running row to bob, or deletes it.
    void takeRow()
    {
        if (live < 0 || lock->held() || !rows[std::size_t(live)].inFile || rows[std::size_t(live)].taken)
            return;
        const qint64 id = rowid(live);
        ExpectedRow& row = rows[std::size_t(live)];
        const qint64 holds = db.scalar(QStringLiteral("select itime from internet where rowid = %1").arg(id)).toLongLong();
        if (chance(50)) {
            db.exec(QStringLiteral("update internet set iuser = 'bob' where rowid = %1").arg(id));
            row.taken = holds;
        } else {
            db.exec(QStringLiteral("delete from internet where rowid = %1").arg(id));
            row.taken = holds;
            row.deleted = true;
        }
        // The minutes it holds are theirs; the rest go on in a new row of the user's own.
        rows.push_back({row.user, row.minutes - holds});
        live = int(rows.size()) - 1;
        snapshot = fileRows();
    }

    // Another user logs in at the fresh login window while the line is down.
    void logInAgain()
    {
        if (line.up() || ending)
            return;
        session.guser = QStringLiteral("u%1").arg(++users);
        live = -1;
        upAtLastLook = false;
        load();
        if (dialConnects)
            begin();
        flushed = live >= 0;
    }

    // --- the rule ------------------------------------------------------------------------

    void bill(qint64 minutes)
    {
        if (live >= 0)
            rows[std::size_t(live)].minutes += minutes;
    }

    // A row begins; while the file cannot be written it does not, and the line is hung up.
    bool begin()
    {
        if (lock->held()) {
            live = -1;
            return false;
        }
        rows.push_back({session.guser, 1, true});
        live = int(rows.size()) - 1;
        lookedAt(!line.unknown);
        return true;
    }

    void lookedAt(bool up)
    {
        upAtLastLook = up;
        changed = false;
    }

    // One tick of the window, the line being `up` (or not known) when it ran; `unseen`
    // intervals at which nobody looked came before it.
    void expectTick(qint64 unseen, bool up, bool unknown, bool afterHold = false)
    {
        if (ending)
            return;
        // Nobody looked: they count when the same connection was up throughout.
        if (!unknown && upAtLastLook && !changed && up)
            bill(unseen);
        // Held: each counts by the look taken when it fell due; the last is the tick's own.
        if (afterHold && held > 0)
            bill(heldUp - (lastHeldUp ? 1 : 0));
        heldUp = 0;
        bool down = !up;
        if (unknown) {
            if (++unknownRun < 2)
                return;
            unknownRun = 0;   // a second in a row is a drop
            down = true;
        } else {
            unknownRun = 0;
            lookedAt(up);
        }
        if (!down) {
            if (live < 0 && !begin())
                up = false;    // hung up: no row, no line
        } else {
            upAtLastLook = false;
            if (redialAnswer == Answer::Cancel) {
                ending = true;
                return;
            }
            if (dialConnects)
                up = begin();
        }
        if (unknown)
            return;
        if (live >= 0 && up) {
            bill(1);
            lookedAt(true);
        } else {
            upAtLastLook = false;
            if (closeAnswer == Answer::Ok)
                ending = true;
        }
    }

    void answer(const doubles::ShownBox& box)
    {
        if (box.prompt == kRedial)
            boxes.answerNext(redialAnswer);
        else if (box.prompt == kCloseTimer)
            boxes.answerNext(closeAnswer);
        else if (box.prompt == kDisconnect) {
            boxes.answerNext(disconnectAnswer);
            // Held open: at each minute the line may change, and a look is taken.
            for (; hold > 0; --hold) {
                if (chance(30))
                    line.up() ? drop() : comeBack();
                clock.advanceMinutes(1);
                timer->fire();
                ++held;
                lastHeldUp = line.up() && live >= 0;
                if (lastHeldUp)
                    ++heldUp;
                lookedAt(line.up());
            }
            upAtRelease = line.up();
        }
    }

    // --- the comparison --------------------------------------------------------------------

    qint64 rowid(int row) const
    {
        int nth = 0;
        for (int r = 0; r < row; ++r)
            nth += rows[std::size_t(r)].inFile && !rows[std::size_t(r)].deleted ? 1 : 0;
        return db.scalar(QStringLiteral("select rowid from internet order by rowid limit 1 offset %1").arg(nth))
            .toLongLong();
    }

    QStringList fileRows() const
    {
        return db.rows(QStringLiteral("select iuser, itime from internet order by rowid"));
    }

    // After a step whose writes could go to the file, every row holds what the rule gives;
    // after any other, nothing has changed.
    void compare(const QString& context)
    {
        const bool wrote = flushed && !lock->held();
        flushed = false;
        const QStringList file = fileRows();
        if (qEnvironmentVariableIsSet("TALLYON_ORACLE_TRACE"))
            qInfo().noquote() << context.section(u' ', -1) << "file:" << file.join(u' ') << "boxes:" << boxes.prompts().join(u'/')
                              << "live" << live << "up" << line.up() << "locked" << lock->held();
        if (!wrote) {
            ASSERT_EQ(file, snapshot) << context.toStdString() << " (nothing written): "
                                      << file.join(u' ').toStdString() << " not " << snapshot.join(u' ').toStdString();
            return;
        }
        QStringList expected;
        for (ExpectedRow& row : rows) {
            row.inFile = row.inFile || (row.minutes > 0 && !row.taken);
            if (row.deleted || !row.inFile)
                continue;
            expected << (row.taken ? QStringLiteral("bob|%1").arg(*row.taken)
                                   : QStringLiteral("%1|%2").arg(row.user).arg(row.minutes));
        }
        ASSERT_EQ(file, expected) << context.toStdString() << ": " << file.join(u' ').toStdString() << " not "
                                  << expected.join(u' ').toStdString();
        snapshot = file;
        if (ending)
            ended = true;
        ASSERT_EQ(program.endedAtOnce, ended ? 1 : 0) << context.toStdString() << " (ended)";
    }

    void run(unsigned seed, int steps)
    {
        rng.seed(seed);
        QString trail;
        start();
        compare(QStringLiteral("seed %1: start").arg(seed));
        if (HasFatalFailure())
            return;
        for (int step = 0; step < steps && program.endedAtOnce == 0; ++step) {
            redialAnswer = chance(80) ? Answer::Ok : Answer::Cancel;
            closeAnswer = chance(25) ? Answer::Ok : Answer::Cancel;
            dialConnects = chance(70);
            const int pick = between(0, 99);
            const char* name = "";
            if (pick < 40) { name = "tick"; tick(); }
            else if (pick < 50) { name = "drop"; drop(); }
            else if (pick < 58) { name = "back"; comeBack(); }
            else if (pick < 63) { name = "unknown"; unknownTick(); }
            else if (pick < 70) { name = "stall"; stall(); }
            else if (pick < 80) { name = "disconnect"; if (!ending) disconnect(); }
            else if (pick < 88) { name = "lock"; toggleLock(); }
            else if (pick < 94) { name = "take"; takeRow(); }
            else { name = "login"; logInAgain(); }
            trail += QLatin1Char(' ') + QLatin1String(name);
            compare(QStringLiteral("seed %1, steps:%2").arg(seed).arg(trail));
            if (HasFatalFailure())
                return;
        }
    }

    std::mt19937 rng;
    std::optional<doubles::FileWriteLock> lock;
    std::chrono::milliseconds savedTimeout{};
    std::chrono::milliseconds savedWindow{};

    Answer redialAnswer = Answer::Ok;
    Answer closeAnswer = Answer::Cancel;
    Answer disconnectAnswer = Answer::Cancel;
    int hold = 0;
    int held = 0;
    qint64 heldUp = 0;
    bool lastHeldUp = false;
    bool upAtRelease = false;

    std::vector<ExpectedRow> rows;
    int live = -1;
    int users = 0;
    bool upAtLastLook = false;
    bool changed = false;
    int unknownRun = 0;
    bool ending = false;
    bool ended = false;
    bool flushed = false;
    QStringList snapshot;
};

std::vector<unsigned> oracleSeeds()
{
    const QByteArray only = qgetenv("TALLYON_ORACLE_SEED");
    if (!only.isEmpty())
        return {only.toUInt()};
    const QByteArray runs = qgetenv("TALLYON_ORACLE_RUNS");
    std::vector<unsigned> seeds(runs.isEmpty() ? 1500u : runs.toUInt());
    std::iota(seeds.begin(), seeds.end(), 1u);
    return seeds;
}

TEST_P(BillOracle, EveryRowHoldsWhatTheRuleGives)
{
    run(GetParam(), 40);
}

INSTANTIATE_TEST_SUITE_P(Seeds, BillOracle, ::testing::ValuesIn(oracleSeeds()));

} // namespace
} // namespace timertest
