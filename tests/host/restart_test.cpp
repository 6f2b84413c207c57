// Starting a launch again: what the new start is told, and when a program
// that asks for restarts without end is stopped.
#include "launcher/restart.h"

#include "test_support.h"

namespace {

TEST(RestartTest, TheMarkCarriesEverythingWhole) {
    StartAgainMark mark;
    mark.process = 4294967295u;
    mark.withoutUserOptions = true;
    mark.signal = 0x1F4;
    mark.restartTimes = {5, 1000000000000ull};
    mark.file = W("C:\\Users\\a;b=c\\App\\App.vmoptions");
    mark.words = W("Error occurred\nprocess=1;users=no\n");
    StartAgainMark read;
    ASSERT_TRUE(decodeStartAgainMark(encodeStartAgainMark(mark), read));
    EXPECT_EQ(read.process, mark.process);
    EXPECT_TRUE(read.withoutUserOptions);
    EXPECT_EQ(read.signal, mark.signal);
    EXPECT_EQ(read.restartTimes, mark.restartTimes);
    EXPECT_EQ(U(read.file), U(mark.file));
    EXPECT_EQ(U(read.words), U(mark.words));

    // What a user or another program could have left in the variable.
    for (const char* text : {"", "process=12", "1\n", "process=x\n", "process=1;times=1,,2\n", "users=no\n",
                             "process=99999999999\n", "process=1;other=2\n"}) {
        EXPECT_FALSE(decodeStartAgainMark(W(text), read)) << text;
    }
}

// Five restarts within a minute are the program's business; a sixth means
// it asks without end.
TEST(RestartTest, MoreThanFiveWithinAMinuteAreRefused) {
    List<uint64_t> times;
    for (uint64_t now : {1000, 2000, 3000, 4000, 5000}) EXPECT_TRUE(restartAllowed(times, now)) << now;
    EXPECT_FALSE(restartAllowed(times, 6000));
    EXPECT_EQ(times.size(), 5u);
    // The first has left the window: one more may go.
    EXPECT_TRUE(restartAllowed(times, 61000));
    EXPECT_FALSE(restartAllowed(times, 61001));
    // A clock that went back (another boot) forgets the earlier ones.
    EXPECT_TRUE(restartAllowed(times, 10));
    EXPECT_EQ(times.size(), 1u);
}

TEST(RestartTest, TheCodeIsAWholeNumberOtherThanZero) {
    struct Case {
        const char* text;
        bool set;
        int32_t code;
    } cases[] = {
        {"23", true, 23},  {"-1", true, -1}, {"2147483647", true, 2147483647}, {"-2147483648", true, INT32_MIN},
        {"0", false, 0},   {"", false, 0},   {"2147483648", false, 0},         {"23 ", false, 0},
        {"0x17", false, 0}, {"+5", false, 0},
    };
    for (const Case& c : cases) {
        int32_t code = 0;
        EXPECT_EQ(parseRestartCode(W(c.text), code), c.set) << c.text;
        if (c.set) {
            EXPECT_EQ(code, c.code) << c.text;
        }
    }
}

}  // namespace
