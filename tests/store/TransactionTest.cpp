#include <gtest/gtest.h>

#include <vector>

#include <QProcess>

#include "store/Esql.h"
#include "tests/store/StoreTestSupport.h"

using store::Esql;

namespace {

QStringList texts(std::initializer_list<const char*> all)
{
    QStringList list;
    for (const char* text : all)
        list << QString::fromUtf8(text);
    return list;
}

template <typename Db>
class OneTransaction : public OnEachEngine<Db> {
protected:
    void SetUp() override
    {
        OnEachEngine<Db>::SetUp();
        if (this->IsSkipped() || this->HasFatalFailure())
            return;
        this->db.exec(QStringLiteral("insert into internet values ('ann','2024-01-01',5,'08:00:00','08:05:00'),"
                               "('ann','2024-01-02',6,'09:00:00','09:06:00'),"
                               "('ann','2024-01-03',7,'10:00:00','10:07:00'),"
                               "('bob','2024-01-03',8,'11:00:00','11:08:00')"));
    }

    static QStringList minutesIn(store::RecordSet& set)
    {
        QStringList minutes;
        for (std::size_t row = 0; row < set.rowCount(); ++row)
            minutes << set.valueAt(row, set.fieldIndex(QStringLiteral("itime"))).toString();
        return minutes;
    }
};
TYPED_TEST_SUITE(OneTransaction, BothEngines, EngineNames);

TYPED_TEST(OneTransaction, ClearingStopsAtAChangedRowWithNothingDeletedAndTheRowsAsBefore)
{
    auto ann = Esql(QStringLiteral("select * from internet where iuser='ann'"));
    this->db.exec(QStringLiteral("update internet set itime=60 where idate='2024-01-03'")); // the last of ann's rows
    EXPECT_THROW(ann->inOneTransaction([&] {
        for (ann->first(); !ann->atEnd();)
            ann->deleteCurrent();
    }),
                 store::ConflictError);
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from internet")).toInt(), 4);
    EXPECT_EQ(TestFixture::minutesIn(*ann), texts({"5", "6", "7"})) << "the set holds the rows it held before";

    // Once the changed row is read again the clearing goes through, all at once.
    ASSERT_TRUE(ann->reread(2));
    ann->inOneTransaction([&] {
        for (ann->first(); !ann->atEnd();)
            ann->deleteCurrent();
    });
    EXPECT_EQ(ann->rowCount(), 0u);
    EXPECT_EQ(this->db.rows(QStringLiteral("select iuser from internet")), texts({"bob"}));
}

TYPED_TEST(OneTransaction, AnyFailureRollsBackEverySetThatWroteInside)
{
    auto ann = Esql(QStringLiteral("select * from internet where iuser='ann'"));
    std::unique_ptr<store::RecordSet> added;
    EXPECT_THROW(ann->inOneTransaction([&] {
        ann->setValue(QStringLiteral("itime"), 50);
        ann->update();
        ann->next();
        ann->deleteCurrent();
        added = ann->esql(QStringLiteral("select * from users"));
        added->addNew();
        added->setValue(QStringLiteral("iuser"), QStringLiteral("zed"));
        added->update();
        ASSERT_EQ(added->rowCount(), 1u);
        added->setValue(QStringLiteral("quanxian"), QStringLiteral("not a number")); // refused
    }),
                 store::StoreError);
    EXPECT_EQ(this->db.rows(QStringLiteral("select itime from internet order by %1").arg(this->keyColumn())), texts({"5", "6", "7", "8"}));
    EXPECT_EQ(this->db.scalar(QStringLiteral("select count(*) from users")).toInt(), 0);
    EXPECT_EQ(TestFixture::minutesIn(*ann), texts({"5", "6", "7"}));
    EXPECT_EQ(added->rowCount(), 0u) << "no row the database does not hold";
}

TYPED_TEST(OneTransaction, ProcessesRegisteringOneNameTogetherAddItOnce)
{
    constexpr int rounds = 25;
    constexpr int racers = 3;
    for (int round = 0; round < rounds; ++round) {
        const QString name = QStringLiteral("carol%1").arg(round);
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int r = 0; r < racers; ++r) {
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->start(QStringLiteral(STORE_TEST_WRITER), {this->db.address().text(), name, QStringLiteral("--register")});
        }
        int added = 0;
        int refused = 0;
        for (auto& process : processes) {
            ASSERT_TRUE(process->waitForFinished(30000));
            added += process->exitCode() == 0;
            refused += process->exitCode() == 3;
        }
        EXPECT_EQ(added, 1) << name.toStdString();
        EXPECT_EQ(refused, racers - 1) << name.toStdString();
        ASSERT_EQ(this->db.scalar(QStringLiteral("select count(*) from users where iuser='%1'").arg(name)).toInt(), 1)
            << name.toStdString();
    }
}

} // namespace
