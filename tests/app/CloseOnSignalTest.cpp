// A signal to a window of the real program closes it as its Cancel would: the program ends
// normally, so the window cleans up after itself.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "support/PeerTools.h"
#include "support/RunningProgram.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

TEST(CloseOnSignal, WindowsCloseAndTheProgramEndsNormally) {
    test::ScratchFolder empty;
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int signal;
    } cases[] = {
        {"backup window, SIGTERM", {}, SIGTERM},
        {"restore window, SIGINT", {"browse", empty.path()}, SIGINT},
        {"restore window, SIGHUP", {"browse", empty.path()}, SIGHUP},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder tmp, runtime, home;
        test::RunningProgram window(c.args, {tmp.path(), false,
                                             {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime.path(),
                                              "HOME=" + home.path()}});
        // Wait until the window has taken the signal over; a signal before that ends the program at once.
        for (int wait = 0; wait < 6000 && !window.Catches(c.signal); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(window.Catches(c.signal)) << "the window never came up";
        window.Signal(c.signal);
        EXPECT_EQ(window.Finish(), 0) << window.output();
        EXPECT_EQ(test::FolderNames(tmp.path()), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace corvane
