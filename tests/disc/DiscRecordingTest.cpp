#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "disc/CBurnProgress.h"
#include "disc/DiscPayload.h"
#include "disc/DiscRecording.h"
#include "support/ScriptedDiscMaster.h"
#include "support/TestBackupHost.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

const Calls kPreparePass = {"SetActiveDiscRecorder /dev/sr0",
                            "OpenExclusive",
                            "QueryMediaType",
                            "Close",
                            "AddData corvane.exe",
                            "AddData autorun.inf",
                            "AddData autorun.sh"};
const Calls kBurnPass = {"OpenExclusive", "QueryMediaType", "Close", "RecordDisc 0 1"};

Calls Join(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A host and a disc layer with a progress sink attached, as the backup job sets them up.
struct Flow {
    Flow() {
        disc.ProgressAdvise(&sink, cookie);
        disc.SetActiveDiscRecorder(disc.recorder());
    }
    // The calls after setting up.
    Calls calls() const { return Calls(disc.log().begin() + 2, disc.log().end()); }
    DiscStep Prepare() { return PrepareDisc(host, disc, disc.recorder(), disc); }
    DiscStep Burn() { return BurnDisc(host, disc, disc.recorder()); }

    test::TestBackupHost host;
    test::ScriptedDiscMaster disc;
    CBurnProgress sink{host};
    std::uint32_t cookie = 0;
};

TEST(DiscRecording, EveryDiscIsPreparedWithThePayloadAndRecorded) {
    Flow flow;
    for (int disc = 0; disc < 2; ++disc) {
        ASSERT_EQ(flow.Prepare(), DiscStep::Done);
        ASSERT_EQ(flow.Burn(), DiscStep::Done);
    }
    const Calls oneDisc = Join(kPreparePass, kBurnPass);
    EXPECT_EQ(flow.calls(), Join(oneDisc, oneDisc));

    ASSERT_EQ(flow.disc.recordedDiscs().size(), 2u);
    for (const auto& image : flow.disc.recordedDiscs()) {
        EXPECT_EQ(image.names(), (Calls{"corvane.exe", "autorun.inf", "autorun.sh"}));
        EXPECT_EQ(image.find("autorun.inf")->bytes, kAutorunText);
    }
    const std::string temp = flow.host.tempFolder.path() + "/";
    const Calls staged = {temp + "corvaneex.mcb", temp + "autorun.inf", temp + "autorun.mcb",
                          temp + "autorun.sh",    temp + "autorunsh.mcb"};
    EXPECT_EQ(flow.host.stagedFiles, Join(staged, staged));

    const Calls statuses = {
        "Accessing media...",     std::filesystem::read_symlink("/proc/self/exe").string(),
        temp + "autorun.inf",     temp + "autorun.sh",
        "Activating disc recorder...",
        "Accessing media...",     "Burning disc...",
        "Preparing to burn...",   "Burning The Disc...",
        "Closing disc...",        "Completed!"};
    EXPECT_EQ(flow.host.Entries("SetStatus "), Join(statuses, statuses));
    EXPECT_EQ(flow.host.Entries("SetProgress "), (Calls{"33", "66", "100", "33", "66", "100"}));

    // Cancel goes off before the recording reports anything and is not turned on again.
    const Calls disabled = {"SetStatus Burning disc...", "SetCancelEnabled 0",
                            "SetStatus Preparing to burn..."};
    EXPECT_NE(std::ranges::search(flow.host.log, disabled).begin(), flow.host.log.end());
    EXPECT_EQ(flow.host.Entries("SetCancelEnabled "), (Calls{"0", "0"}));

    EXPECT_EQ(flow.host.instantClock.sleeps, (std::vector<std::chrono::milliseconds>{5s, 5s}));
    EXPECT_TRUE(flow.host.messages.empty());
    EXPECT_EQ(std::ranges::count(flow.host.Entries("SetStatus "), "Completed Successfully!"), 0)
        << "only the job says that, once, at the real end";
}

// Each way the recorder or the disc can fail to be ready, answered with Retry and with Cancel.
TEST(DiscRecording, FailuresAskRetryOrCancel) {
    struct Row {
        const char* name;
        bool burn;
        std::function<void(test::ScriptedDiscMaster&)> script;
        Calls failedPass;
        const char* text;  // nullptr: retried without asking
        const char* caption;
    };
    const Calls openFails = {"OpenExclusive"};
    const Calls queried = {"OpenExclusive", "QueryMediaType", "Close"};
    const Calls prepareOpen = {"SetActiveDiscRecorder /dev/sr0", "OpenExclusive"};
    const Calls prepareQueried = Join({"SetActiveDiscRecorder /dev/sr0"}, queried);
    const char* insert = "Please insert a blank writeable disc";
    const Row rows[] = {
        {"prepare: recorder does not open", false, [](auto& d) { d.Fail("OpenExclusive"); },
         prepareOpen, insert, "Corvane"},
        {"prepare: medium cannot be examined", false, [](auto& d) { d.Fail("QueryMediaType"); },
         prepareQueried, insert, "Corvane"},
        {"prepare: disc not writable", false, [](auto& d) { d.QueueMedia(0); }, prepareQueried,
         insert, "Corvane"},
        {"burn: recorder does not open", true, [](auto& d) { d.Fail("OpenExclusive"); }, openFails,
         "Unable to open disc recorder!", "corvane"},
        {"burn: medium cannot be examined", true, [](auto& d) { d.Fail("QueryMediaType"); },
         queried, "Unable to access disc recorder!", "corvane"},
        {"burn: disc not writable", true, [](auto& d) { d.QueueMedia(MEDIA_BLANK); }, queried,
         "Please insert a blank writable disc!", "corvane"},
        {"burn: recording fails", true, [](auto& d) { d.Fail("RecordDisc"); },
         Join(queried, {"RecordDisc 0 1"}), nullptr, nullptr},
    };
    for (const Row& row : rows) {
        for (MessageAnswer answer : {MessageAnswer::Retry, MessageAnswer::Cancel}) {
            SCOPED_TRACE(std::string(row.name) +
                         (answer == MessageAnswer::Retry ? ", Retry" : ", Cancel"));
            Flow flow;
            row.script(flow.disc);
            flow.host.answers = {answer};
            const DiscStep result = row.burn ? flow.Burn() : flow.Prepare();

            const bool retried = answer == MessageAnswer::Retry || !row.text;
            EXPECT_EQ(result, retried ? DiscStep::Done : DiscStep::Cancelled);
            EXPECT_EQ(flow.calls(), retried
                                        ? Join(row.failedPass, row.burn ? kBurnPass : kPreparePass)
                                        : row.failedPass);
            if (row.text) {
                ASSERT_EQ(flow.host.messages.size(), 1u);
                const Message& asked = flow.host.messages[0];
                EXPECT_EQ(asked.text, row.text);
                EXPECT_EQ(asked.caption, row.caption);
                EXPECT_EQ(asked.icon, MessageIcon::Warning);
                EXPECT_EQ(asked.buttons, MessageButtons::RetryCancel);
            } else {
                EXPECT_TRUE(flow.host.messages.empty());
                EXPECT_EQ(flow.host.Entries("SetStatus ").back(), "Completed!");
            }
            // PrepareDisc pauses after every pass the user did not cancel; BurnDisc never does.
            const std::size_t pauses = row.burn ? 0 : answer == MessageAnswer::Retry ? 2 : 0;
            EXPECT_EQ(flow.host.instantClock.sleeps,
                      std::vector<std::chrono::milliseconds>(pauses, 5s));
        }
    }
}

// Why a recorder cannot be opened or its disc examined shows on the status line, beside the
// message that asks to try again.
TEST(DiscRecording, TheCauseOfAnUnusableRecorderShowsOnTheStatusLine) {
    for (const char* failing : {"OpenExclusive", "QueryMediaType"}) {
        for (bool burn : {false, true}) {
            SCOPED_TRACE(std::string(failing) + (burn ? ", burning" : ", preparing"));
            Flow flow;
            flow.disc.Fail(failing);
            flow.host.answers = {MessageAnswer::Cancel};
            EXPECT_EQ(burn ? flow.Burn() : flow.Prepare(), DiscStep::Cancelled);
            EXPECT_EQ(std::ranges::count(flow.host.Entries("SetStatus "), std::string("Scripted failure of ") + failing), 1);
        }
    }
}

// A disc that holds data is used only after a question of its own, answered Yes; its default
// is No, and No goes on to ask for another disc.
TEST(DiscRecording, ADiscHoldingDataIsErasedOnlyAfterTheAnswer) {
    const std::string note = "This disc holds the volume \"HOLIDAY_PHOTOS\".";
    struct Case {
        MessageAnswer erase;
        DiscStep result;
        Calls calls;
    };
    const Calls asked = {"SetActiveDiscRecorder /dev/sr0", "OpenExclusive", "QueryMediaType",
                         "Close"};
    for (const Case& c : {Case{MessageAnswer::Yes, DiscStep::Done,
                              Join(Join(asked, {"AllowErase"}), Calls(kPreparePass.begin() + 4, kPreparePass.end()))},
                         Case{MessageAnswer::No, DiscStep::Cancelled, asked}}) {
        SCOPED_TRACE(c.erase == MessageAnswer::Yes ? "Yes" : "No");
        Flow flow;
        flow.disc.QueueMedia(MEDIA_HOLDS_DATA | MEDIA_RW);
        flow.disc.SetMediumNote(note);
        flow.host.answers = {c.erase, MessageAnswer::Cancel};
        EXPECT_EQ(flow.Prepare(), c.result);
        EXPECT_EQ(flow.calls(), c.calls);
        ASSERT_GE(flow.host.messages.size(), 1u);
        const Message& question = flow.host.messages[0];
        EXPECT_EQ(question.text, note + "\n\nErase and use this disc?");
        EXPECT_EQ(question.buttons, MessageButtons::YesNo);
        EXPECT_TRUE(question.defaultNo);
        const Calls statuses = flow.host.Entries("SetStatus ");
        EXPECT_EQ(std::ranges::count(statuses, note), 1) << "the reason shows on the status line";
        if (c.erase == MessageAnswer::No) {
            ASSERT_EQ(flow.host.messages.size(), 2u);
            EXPECT_EQ(flow.host.messages[1].text, "Please insert a blank writeable disc");
        }
    }
}

TEST(DiscRecording, FailedRecordingsAreRetriedAFewTimesAndNeverAfterCancel) {
    struct Case {
        int failures;
        bool cancel;
        int recordings;
        DiscStep result;
    };
    const std::string failedStatus = "Error writing disc! Scripted failure of RecordDisc 0 1";
    for (const Case c : {Case{2, false, 3, DiscStep::Done}, {3, false, 3, DiscStep::Failed},
                         {0, true, 1, DiscStep::Cancelled}}) {
        SCOPED_TRACE(::testing::Message() << c.failures << " failures, cancel " << c.cancel);
        Flow flow;
        flow.disc.Fail("RecordDisc", c.failures);
        flow.host.cancelRequested = c.cancel;
        EXPECT_EQ(flow.Burn(), c.result);
        EXPECT_EQ(std::ranges::count(flow.disc.log(), "RecordDisc 0 1"), c.recordings);
        EXPECT_EQ(flow.disc.recordedDiscs().size(), c.result == DiscStep::Done ? 1u : 0u);
        if (c.result == DiscStep::Failed) {
            // The cause is told and stays on the status line.
            EXPECT_EQ(flow.host.status, failedStatus);
            EXPECT_EQ(flow.host.failure, failedStatus);
            ASSERT_EQ(flow.host.messages.size(), 1u);
            EXPECT_EQ(flow.host.messages[0].text, failedStatus);
        } else {
            EXPECT_TRUE(flow.host.messages.empty());
            EXPECT_TRUE(flow.host.failure.empty());
        }
    }
}

TEST(DiscRecording, PrepareDiscWithoutASelectedRecorderDoesNothing) {
    Flow flow;
    flow.host.recorderSelection.reset();
    EXPECT_EQ(flow.Prepare(), DiscStep::Cancelled);
    EXPECT_TRUE(flow.calls().empty());
    EXPECT_TRUE(flow.host.log.empty());
}

}  // namespace
}  // namespace corvane
