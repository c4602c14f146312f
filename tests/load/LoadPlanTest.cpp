// LoadPlan: which durations and processor lists the command line takes, and what a list selects.
#include "load/LoadPlan.h"
#include <gtest/gtest.h>

TEST(LoadPlan, Durations) {
    const struct {
        const char *text;
        int taken;
        uint32_t seconds;
    } cases[] = {
        {"90", 1, 90},
        {"90s", 1, 90},
        {"5m", 1, 300},
        {"2H", 1, 7200},
        {"1", 1, 1},
        {"0", 0, 0},
        {"0m", 0, 0},
        {"", 0, 0},
        {"m", 0, 0},
        {"5x", 0, 0},
        {"5mm", 0, 0},
        {"1.5m", 0, 0},
        {"-5", 0, 0},
        {"+5", 0, 0},
        {"5 ", 0, 0},
        {"0x10", 0, 0},
        {"2147483647", 1, 2147483647u},
        {"2147483648", 0, 0},
        {"596523h", 1, 596523u * 3600},
        {"596524h", 0, 0},
        {"99999999999999999999999s", 0, 0},
        {nullptr, 0, 0},
    };
    for (const auto &c : cases) {
        uint32_t seconds = 12345;
        EXPECT_EQ(c.taken, LoadPlan::ParseDuration(c.text, &seconds)) << c.text;
        EXPECT_EQ(c.taken ? c.seconds : 12345u, seconds) << c.text;
    }
}

TEST(LoadPlan, ProcessorLists) {
    const struct {
        const char *text;
        int taken;
        const char *selected; // '1' for each of processors 0 to 9 the list includes
    } cases[] = {
        {"0", 1, "1000000000"},
        {"1", 1, "0100000000"},
        {"0,2-3", 1, "1011000000"},
        {"3-3,1", 1, "0101000000"},
        {"8-65535", 1, "0000000011"},
        {"2,2,2", 1, "0010000000"},
        {",", 0, ""},
        {"1,", 0, ""},
        {",1", 0, ""},
        {"1,,2", 0, ""},
        {"3-1", 0, ""},
        {"1-", 0, ""},
        {"-1", 0, ""},
        {"1 2", 0, ""},
        {"a", 0, ""},
        {"65536", 0, ""},
        {"0-99999999999", 0, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.taken, LoadPlan::IsProcessorList(c.text)) << c.text;
        LoadPlan plan;
        ASSERT_EQ(1, plan.SetProcessors("5"));
        EXPECT_EQ(c.taken, plan.SetProcessors(c.text)) << c.text;
        for (uint32_t index = 0; index < 10; ++index) {
            // A refused list leaves the one before it.
            const int expected = c.taken ? c.selected[index] == '1' : index == 5;
            EXPECT_EQ(expected, plan.Includes(index)) << c.text << ", processor " << index;
        }
    }
}

TEST(LoadPlan, EveryProcessorUnlessAListNamesThem) {
    LoadPlan plan;
    EXPECT_EQ(1, plan.Includes(0));
    EXPECT_EQ(1, plan.Includes(4095));
    EXPECT_EQ(0, plan.NamesNoneOf(2));

    ASSERT_EQ(1, plan.SetProcessors("2-5"));
    EXPECT_EQ(1, plan.NamesNoneOf(2)); // a two-processor machine has none of them
    EXPECT_EQ(0, plan.NamesNoneOf(3));
    // An empty -p is no list, but an empty selection means every processor again.
    EXPECT_EQ(0, LoadPlan::IsProcessorList(""));
    ASSERT_EQ(1, plan.SetProcessors(""));
    EXPECT_EQ(1, plan.Includes(7));
    EXPECT_EQ(0, plan.NamesNoneOf(1));

    EXPECT_EQ(0u, plan.Seconds());
    ASSERT_EQ(1, plan.SetDuration("3m"));
    EXPECT_EQ(180u, plan.Seconds());
    EXPECT_EQ(0, plan.SetDuration("3y"));
    EXPECT_EQ(180u, plan.Seconds());
    ASSERT_EQ(1, plan.SetDuration(nullptr));
    EXPECT_EQ(0u, plan.Seconds());
}
