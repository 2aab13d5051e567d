// The host's pending completion against the device's own calendar context, which lives on the waiting
// thread's stack and is gone as soon as its wait returns: the host must not touch it after Complete.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Host.h"
#include "framework/CalendarDeviceExecContext.h"

namespace zrkhost_test {
namespace {

TEST(FrameworkContext, PendingRepliesReachAStackContextThatIsGoneRightAfter) {
    std::FILE* sink = std::tmpfile();
    {
        zrkhost::EventLog log(sink, false);
        zrkhost::HostFile file;
        file.tasks = {"Show A"};
        zrkhost::Host host(file, log, 0);
        zrkhost::AsyncRemote* remote = host.NewAsyncRemote();
        for (int i = 0; i < 200; ++i) {
            CalendarDeviceExecContext context;
            int code = i % 2 ? remote->Request("GrantedRootGroup", 27, &context, 0)
                             : remote->StartTask(i % 4 ? "Show A" : "Nope", &context, 0);
            ASSERT_EQ(code, kZrkPending);
            int result = context.Wait(-1);
            if (i % 2) {
                EXPECT_EQ(result, 0);
                EXPECT_NE(std::string(context.GetText().Get()).find("User Groups"), std::string::npos);
            } else {
                EXPECT_EQ(result, i % 4 ? 0 : 1);
            }
        }
        EXPECT_EQ(remote->Release(), 0);
        host.Shutdown();
    }
    std::fclose(sink);
}

}  // namespace
}  // namespace zrkhost_test
