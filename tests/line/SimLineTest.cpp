#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

#include <QFile>
#include <QTemporaryDir>

#include "platform/line/LocaleCharset.h"
#include "platform/line/MakeLineService.h"
#include "platform/line/NetworkManagerLine.h"
#include "platform/line/SimLine.h"
#include "tests/doubles/EnvironmentVariable.h"

namespace {

using platform::DialStage;
using platform::SimLineFile;
using platform::SimLineService;
using platform::SimLineState;
namespace lineerror = platform::lineerror;

const QString kBroadband = QStringLiteral("宽带连接");

// ---- The state and its file ---------------------------------------------------------------

TEST(SimLineState, ReadsTheDocumentedFormat)
{
    const SimLineState state = SimLineState::fromJson(
        R"({"entries": ["宽带连接", "备用"], "accounts": {"demo": "demo", "x": "y"},
            "cable": true, "active": [{"handle": 4, "entry": "宽带连接"}]})");
    EXPECT_EQ(state.entries, (QStringList{kBroadband, QStringLiteral("备用")}));
    EXPECT_EQ(state.accounts.value(QStringLiteral("x")), QStringLiteral("y"));
    ASSERT_EQ(state.active.size(), 1);
    EXPECT_EQ(state.active[0].handle, 4);
    EXPECT_EQ(state.active[0].entry, kBroadband);

    const SimLineState again = SimLineState::fromJson(state.toJson());
    EXPECT_EQ(again.entries, state.entries);
    EXPECT_EQ(again.accounts, state.accounts);
    EXPECT_EQ(again.active.size(), 1);
}

TEST(SimLineState, CableOutMeansNothingConnected)
{
    const SimLineState read = SimLineState::fromJson(
        R"({"entries": ["宽带连接"], "cable": false, "active": [{"handle": 1, "entry": "宽带连接"}]})");
    EXPECT_FALSE(read.cable);
    EXPECT_TRUE(read.active.isEmpty());

    SimLineState state = SimLineState::demo();
    state.connect(kBroadband);
    state.connect(kBroadband);
    state.unplug();
    EXPECT_TRUE(state.active.isEmpty());
}

TEST(SimLineState, HandlesAreNewAndDropsFindThem)
{
    SimLineState state = SimLineState::demo();
    const int first = state.connect(kBroadband);
    const int second = state.connect(QStringLiteral("B"));
    EXPECT_NE(first, second);
    EXPECT_FALSE(state.drop(99));
    EXPECT_TRUE(state.drop(first));
    ASSERT_EQ(state.active.size(), 1);
    EXPECT_EQ(state.active[0].handle, second);
}

TEST(SimLineState, HandleAtTheTopOfTheRangeIsFollowedByAFreeOne)
{
    SimLineState state = SimLineState::demo();
    constexpr int kTop = std::numeric_limits<int>::max();
    state.active << platform::SimConnection{kTop, kBroadband} << platform::SimConnection{kTop - 1, QStringLiteral("A")}
                 << platform::SimConnection{1, QStringLiteral("B")};
    const int next = state.connect(QStringLiteral("C"));
    EXPECT_GT(next, 0);
    for (const int taken : {1, kTop - 1, kTop})
        EXPECT_NE(next, taken);
    const int another = state.connect(QStringLiteral("D"));
    EXPECT_GT(another, 0);
    EXPECT_NE(another, next);
    EXPECT_EQ(state.active.size(), 5);
}

TEST(SimLineFile, FolderThatDoesNotExistIsNamed)
{
    QTemporaryDir folder;
    const QString missing = folder.filePath(QStringLiteral("no-such-folder"));
    const SimLineFile file(missing + QStringLiteral("/line.json"));
    try {
        file.read();
        ADD_FAILURE() << "a line in a missing folder cannot be read";
    } catch (const platform::SimLineError& error) {
        EXPECT_TRUE(error.message().contains(missing)) << error.message().toStdString();
        EXPECT_TRUE(error.message().contains(QStringLiteral("不存在"))) << error.message().toStdString();
        EXPECT_FALSE(error.message().contains(QStringLiteral("锁住"))) << error.message().toStdString();
    }
    EXPECT_THROW(file.write(SimLineState::demo()), platform::SimLineError);
}

TEST(SimLineState, MissingKeysTakeDefaultsAndGarbageIsRefused)
{
    const SimLineState empty = SimLineState::fromJson("{}");
    EXPECT_TRUE(empty.entries.isEmpty());
    EXPECT_TRUE(empty.cable);
    EXPECT_THROW(SimLineState::fromJson("[1, 2]"), platform::SimLineError);
    EXPECT_THROW(SimLineState::fromJson("{\"entries\": "), platform::SimLineError);
}

TEST(SimLineFile, ConcurrentChangesAreNotLost)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("line.json"));
    SimLineFile(path).write(SimLineState{});

    constexpr int kWriters = 4;
    constexpr int kEach = 10;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([path, w] {
            const SimLineFile file(path);
            for (int i = 0; i < kEach; ++i)
                file.modify([&](SimLineState& state) {
                    state.accounts.insert(QStringLiteral("u%1-%2").arg(w).arg(i), QStringLiteral("p"));
                });
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(SimLineFile(path).read().accounts.size(), kWriters * kEach);
}

// ---- The line service on it ----------------------------------------------------------------

class SimLineServiceTest : public ::testing::Test {
protected:
    SimLineServiceTest() { file.write(SimLineState::demo()); }

    platform::DialResult dial(const QString& entry, const QString& user, const QString& password)
    {
        stages.clear();
        return line.dial(entry, user, password, [this](DialStage stage) { stages.push_back(stage); });
    }

    QTemporaryDir folder;
    SimLineFile file{folder.filePath(QStringLiteral("line.json"))};
    SimLineService line{file.path()};
    std::vector<DialStage> stages;
};

TEST_F(SimLineServiceTest, DialConnectsAndAddsTheConnection)
{
    const platform::DialResult result = dial(kBroadband, QStringLiteral("demo"), QStringLiteral("demo"));
    EXPECT_TRUE(result.connected());
    EXPECT_EQ(stages, (std::vector<DialStage>{DialStage::Connecting, DialStage::Authenticating,
                                              DialStage::Registering}));
    const QList<platform::ActiveConnection> active = line.activeConnections();
    ASSERT_EQ(active.size(), 1);
    EXPECT_EQ(active[0].entryName, kBroadband);

    EXPECT_TRUE(dial(kBroadband, QStringLiteral("demo"), QStringLiteral("demo")).alreadyConnected);
    EXPECT_EQ(line.activeConnections().size(), 1);

    line.hangUp(active[0].handle);
    EXPECT_TRUE(line.activeConnections().isEmpty());
}

TEST_F(SimLineServiceTest, RefusalsCarryTheirNumbers)
{
    EXPECT_EQ(dial(kBroadband, QStringLiteral("demo"), QStringLiteral("wrong")).error,
              lineerror::kAuthenticationRefused);
    EXPECT_EQ(dial(kBroadband, QStringLiteral("nobody"), QStringLiteral("demo")).error,
              lineerror::kAuthenticationRefused);
    EXPECT_EQ(dial(QStringLiteral("别的"), QStringLiteral("demo"), QStringLiteral("demo")).error,
              lineerror::kNoSuchEntry);
    file.modify([](SimLineState& state) { state.unplug(); });
    EXPECT_EQ(dial(kBroadband, QStringLiteral("demo"), QStringLiteral("demo")).error, lineerror::kNoAnswer);
    EXPECT_EQ(stages, std::vector<DialStage>{DialStage::Connecting});
    EXPECT_TRUE(line.activeConnections().isEmpty());
}

TEST_F(SimLineServiceTest, UnreadableLineActsLikeAStoppedService)
{
    QFile::remove(file.path());
    EXPECT_TRUE(line.phonebookEntries().isEmpty());
    EXPECT_THROW(line.activeConnections(), platform::LineUnknown) << "unknown, not down";
    EXPECT_EQ(dial(kBroadband, QStringLiteral("demo"), QStringLiteral("demo")).error,
              lineerror::kServiceUnavailable);
}

// ---- Choosing the backend ------------------------------------------------------------------

TEST(LineChoice, VariableChoosesTheBackend)
{
    EXPECT_NE(dynamic_cast<platform::NetworkManagerLine*>(platform::makeLineService(QString()).get()), nullptr);
    EXPECT_NE(dynamic_cast<platform::NetworkManagerLine*>(
                  platform::makeLineService(QStringLiteral("networkmanager")).get()),
              nullptr);
    EXPECT_NE(dynamic_cast<SimLineService*>(platform::makeLineService(QStringLiteral("sim:/tmp/x.json")).get()),
              nullptr);
    EXPECT_THROW(platform::makeLineService(QStringLiteral("sim:")), platform::LineChoiceError);
    try {
        platform::makeLineService(QStringLiteral("ras"));
        ADD_FAILURE() << "an unknown backend is refused";
    } catch (const platform::LineChoiceError& error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("sim:文件")));
    }

    // The room's settings file chooses when the variable is unset, and a wrong choice
    // there is told with the file and its line.
    const QTemporaryDir room;
    const QString settings = room.filePath(QStringLiteral("horavo.conf"));
    const doubles::EnvironmentVariable settingsFile(horavo::kSettingsFileVariable, settings.toUtf8());
    const auto writeSettings = [&](const QByteArray& text) {
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    {
        const doubles::EnvironmentVariable unset(platform::kLineVariable, QByteArray());
        writeSettings("database = x.mdb\nline = sim:/tmp/room.json\n");
        EXPECT_NE(dynamic_cast<SimLineService*>(platform::makeLineService().get()), nullptr);
        writeSettings("# a room\nline = ras\n");
        try {
            platform::makeLineService();
            ADD_FAILURE() << "an unknown backend in the settings is refused";
        } catch (const platform::LineChoiceError& error) {
            EXPECT_TRUE(error.message().startsWith(QStringLiteral("设置文件“%1”第 2 行的 line 的“ras”").arg(settings)))
                << error.message().toStdString();
        }
    }
    const doubles::EnvironmentVariable lan(platform::kLineVariable, "lan");
    EXPECT_EQ(dynamic_cast<SimLineService*>(platform::makeLineService().get()), nullptr);
    EXPECT_EQ(platform::chosenLine().origin, QStringLiteral("环境变量 TALLYON_LINE"));
    EXPECT_EQ(platform::simulatedLineFile(QStringLiteral("sim:/a b/c.json")), QStringLiteral("/a b/c.json"));
    EXPECT_TRUE(platform::simulatedLineFile(QStringLiteral("networkmanager")).isEmpty());
}

TEST(LineChoice, TickSettingCountsOnlyOnTheSimulatedLine)
{
    const platform::MinuteTick simulated = platform::minuteTickFor(QStringLiteral("sim:/x.json"), QStringLiteral("10000"));
    EXPECT_EQ(simulated.overrideMs, 10000);
    EXPECT_TRUE(simulated.ignored.isEmpty());
    for (const QString& realLine : {QString(), QStringLiteral("networkmanager"), QStringLiteral("lan")}) {
        const platform::MinuteTick tick = platform::minuteTickFor(realLine, QStringLiteral("3600000"));
        EXPECT_EQ(tick.overrideMs, 0) << "a minute billed an hour";
        EXPECT_TRUE(tick.ignored.startsWith(QStringLiteral("TALLYON_TICK_MS=3600000 未采用"))) << "and the log says so";
    }
}

// ---- Small parts --------------------------------------------------------------------------

TEST(TerseLine, EscapedColonsAndBackslashesStayInTheirField)
{
    EXPECT_EQ(platform::splitTerseLine(QStringLiteral("DSL\\: home:pppoe:/a\\\\b:")),
              (QStringList{QStringLiteral("DSL: home"), QStringLiteral("pppoe"), QStringLiteral("/a\\b"),
                           QString()}));
}

TEST(LocaleCharset, Gb18030TextSplitBetweenChunksDecodesWhole)
{
    const QString text = QStringLiteral("远程访问错误 678");
    QStringEncoder encoder = platform::encoderFor("GB18030");
    const QByteArray bytes = encoder.encode(text);
    ASSERT_EQ(bytes.size(), 16) << "two bytes per Chinese character";
    QStringDecoder decoder = platform::decoderFor("GB18030");
    QString decoded;
    for (qsizetype i = 0; i < bytes.size(); i += 3)
        decoded += decoder.decode(bytes.mid(i, 3));
    EXPECT_EQ(decoded, text);
}

TEST(LocaleCharset, PlainAsciiLocaleAndUnknownNamesMeanUtf8)
{
    EXPECT_EQ(platform::localeCharsetName(), QByteArrayLiteral("UTF-8")) << "tests run in the C or a UTF-8 locale";
    QStringDecoder decoder = platform::decoderFor("no-such-charset");
    EXPECT_EQ(decoder.decode(QStringLiteral("错误").toUtf8()), QStringLiteral("错误"));
}

} // namespace
