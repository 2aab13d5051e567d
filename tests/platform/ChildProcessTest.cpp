#include <gtest/gtest.h>

#include "platform/ChildProcess.h"

#if defined(_WIN32)
// The line-by-line talk is exercised with zrkhost.exe (tests/zrkhost).
TEST(ChildProcess, TerminateEndsAProgramAndAMissingProgramDoesNotStart) {
    platform::ChildProcess waiting;
    ASSERT_TRUE(waiting.Start("cmd.exe", {"/c", "pause"}));  // waits on its input, which stays open
    EXPECT_TRUE(waiting.Running());
    waiting.Terminate();
    EXPECT_EQ(waiting.Wait(5000), -1);
    EXPECT_FALSE(waiting.Running());
    platform::ChildProcess missing;
    EXPECT_FALSE(missing.Start("Z:\\nonexistent\\program.exe", {}));
}
#else
TEST(ChildProcess, TalksLineByLineWaitsAtMostTheTimeGivenAndSeesTheEnd) {
    platform::ChildProcess cat;
    ASSERT_TRUE(cat.Start("/bin/cat", {}));
    EXPECT_TRUE(cat.Running());
    std::string line;
    EXPECT_FALSE(cat.ReadLine(&line, 50));  // nothing written yet
    EXPECT_FALSE(cat.Ended());
    ASSERT_TRUE(cat.Write("one\ntwo\nthr"));
    ASSERT_TRUE(cat.ReadLine(&line, 5000));
    EXPECT_EQ(line, "one");
    ASSERT_TRUE(cat.ReadLine(&line, 5000));
    EXPECT_EQ(line, "two");
    EXPECT_FALSE(cat.ReadLine(&line, 50));  // a line is only whole with its end
    EXPECT_GE(cat.CpuTimeUs(), 0);
    cat.CloseInput();
    ASSERT_TRUE(cat.ReadLine(&line, 5000));  // the last line without its end comes at the end
    EXPECT_EQ(line, "thr");
    EXPECT_FALSE(cat.ReadLine(&line, 5000));
    EXPECT_TRUE(cat.Ended());
    EXPECT_EQ(cat.Wait(5000), 0);
    EXPECT_FALSE(cat.Running());
}

TEST(ChildProcess, TerminateEndsAProgramAndAMissingProgramEndsAt127) {
    platform::ChildProcess sleeper;
    ASSERT_TRUE(sleeper.Start("/bin/sleep", {"30"}));
    sleeper.Terminate();
    EXPECT_EQ(sleeper.Wait(5000), -1);
    platform::ChildProcess missing;
    ASSERT_TRUE(missing.Start("/nonexistent/program", {}));
    EXPECT_EQ(missing.Wait(5000), 127);
}
#endif
