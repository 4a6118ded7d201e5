#include <gtest/gtest.h>

#include "main_program/timer/TickGate.h"

namespace {

class TickGateTest : public ::testing::Test {
protected:
    int ticks = 0;
    bool dialing = false;
    std::function<void()> duringTick;
    tallyon::TickGate gate{[this] {
                               ++ticks;
                               if (duringTick)
                                   duringTick();
                           },
                           [this] { return dialing; }};
};

TEST_F(TickGateTest, AnIdleWindowTicksAtOnce)
{
    gate.tickDue();
    gate.tickDue();
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(gate.busy());
}

TEST_F(TickGateTest, TicksDueDuringAHandlerRunOnceAfterIt)
{
    gate.runHandler([&] {
        gate.tickDue();
        gate.tickDue();
        gate.runHandler([&] { gate.tickDue(); }); // a nested handler does not let it through
        EXPECT_EQ(ticks, 0);
        EXPECT_TRUE(gate.tickHeld());
    });
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(gate.tickHeld());
}

TEST_F(TickGateTest, ATickDueDuringATickRunsOnceAfterIt)
{
    duringTick = [&] {
        if (ticks == 1) {
            gate.tickDue();
            gate.tickDue();
        }
    };
    gate.tickDue();
    EXPECT_EQ(ticks, 2);
}

TEST_F(TickGateTest, ATickDueDuringADialWaitsForTheNextHandlerEnd)
{
    dialing = true;
    gate.tickDue();
    EXPECT_EQ(ticks, 0);
    gate.runHandler([] {});
    EXPECT_EQ(ticks, 0) << "still dialing";
    dialing = false;
    gate.runHandler([] {});
    EXPECT_EQ(ticks, 1);
}

TEST_F(TickGateTest, NothingRunsAfterTheProgramEnded)
{
    gate.runHandler([&] {
        gate.tickDue();
        gate.close();
    });
    gate.tickDue();
    bool ran = false;
    gate.runHandler([&] { ran = true; });
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(ran);
}

} // namespace
