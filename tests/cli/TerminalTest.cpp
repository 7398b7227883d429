// Answers --yes gives on the terminal: every new disc is asked for, a failure that repeats
// unchanged is given up.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

#include "cli/Terminal.h"

namespace corvane {
namespace {

TEST(Terminal, YesAsksForEveryNewDiscButGivesUpOnAFailureThatRepeats) {
    Terminal terminal(true);
    const Message another{"Please insert another disc", MessageIcon::Information, MessageButtons::RetryCancel};
    const Message blank{"Please insert a blank writeable disc", MessageIcon::Warning, MessageButtons::RetryCancel};
    for (int disc = 0; disc < 40; ++disc) ASSERT_EQ(terminal.Ask(another), MessageAnswer::Retry) << disc;

    int retries = 0;
    while (terminal.Ask(blank) == MessageAnswer::Retry) ASSERT_LT(++retries, 100);
    EXPECT_EQ(retries, 12) << "a minute of 5 s waits";

    // Another question between two failures starts the count afresh.
    EXPECT_EQ(terminal.Ask(another), MessageAnswer::Retry);
    EXPECT_EQ(terminal.Ask(blank), MessageAnswer::Retry);
}

TEST(Terminal, YesNeverAgreesToEraseADisc) {
    Terminal terminal(true);  // tests run without a terminal to answer on
    const Message confirm{"Back up 5 MB?", MessageIcon::Question, MessageButtons::YesNo};
    Message erase{"This disc holds data.\n\nErase and use this disc?", MessageIcon::Warning,
                  MessageButtons::YesNo};
    erase.defaultNo = true;
    EXPECT_EQ(terminal.Ask(confirm), MessageAnswer::Yes);
    EXPECT_EQ(terminal.Ask(erase), MessageAnswer::No);
}

// A signal while a drive records a disc waits for the disc; before and after, it stops at once.
TEST(Terminal, ASignalWhileADiscIsRecordedStopsOnlyOnceItIsFinished) {
    std::atomic<int> cancel{0}, recording{0}, stopAfter{0};
    InterruptGuard guard(&cancel, &recording, &stopAfter);
    recording = 1;
    ::raise(SIGINT);
    EXPECT_EQ(cancel.load(), 0);
    EXPECT_EQ(stopAfter.load(), 1);
    recording = 0;
    ::raise(SIGTERM);
    EXPECT_EQ(cancel.load(), 1);
    EXPECT_TRUE(InterruptGuard::Interrupted());
}

}  // namespace
}  // namespace corvane
