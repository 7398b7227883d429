#include <gtest/gtest.h>

#include "disc/CBurnProgress.h"
#include "support/TestBackupHost.h"

namespace corvane {
namespace {

using test::TestBackupHost;

TEST(CBurnProgress, BlockProgressPercentages) {
    struct Case {
        int completed, total, percent;
    };
    // The last case does not fit 32 bits once multiplied by 100.
    const Case cases[] = {{50, 200, 25}, {199, 200, 99}, {200, 200, 100}, {0, 200, 0},
                          {-5, 200, 0},  {5, 0, 0},      {5, -1, 0},      {30000000, 40000000, 75}};
    TestBackupHost host;
    CBurnProgress sink(host);
    for (const Case& c : cases) {
        host.progress = -1;
        EXPECT_TRUE(sink.NotifyBlockProgress(c.completed, c.total).ok());
        EXPECT_EQ(host.progress, c.percent) << c.completed << " of " << c.total;
    }
}

TEST(CBurnProgress, StatusTextsOfEachRecording) {
    TestBackupHost host;
    CBurnProgress sink(host);
    for (int recording = 0; recording < 2; ++recording) {
        EXPECT_TRUE(sink.NotifyPreparingBurn(30).ok());
        for (int block = 1; block <= 3; ++block)
            EXPECT_TRUE(sink.NotifyBlockProgress(block, 3).ok());
        EXPECT_TRUE(sink.NotifyClosingDisc(5).ok());
        EXPECT_TRUE(sink.NotifyBurnComplete(Status(Status::Code::IoError, "whatever")).ok());
    }
    const std::vector<std::string> one = {"Preparing to burn...", "Burning The Disc...",
                                          "Closing disc...", "Completed!"};
    std::vector<std::string> both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(host.Entries("SetStatus "), both);

    host.SetStatus("burning the disc...");
    sink.NotifyBlockProgress(1, 3);
    EXPECT_EQ(host.status, "Burning The Disc...") << "only the exact text counts as written";
}

TEST(CBurnProgress, UnhandledNotificationsAnswerNotImplementedAndChangeNothing) {
    TestBackupHost host;
    CBurnProgress sink(host);
    const Status answers[] = {sink.NotifyPnPActivity(), sink.NotifyAddProgress(1, 2),
                              sink.NotifyTrackProgress(1, 1),
                              sink.NotifyEraseComplete(Status::Ok())};
    for (const Status& answer : answers) EXPECT_EQ(answer.code(), Status::Code::NotImplemented);
    EXPECT_TRUE(host.log.empty());
}

TEST(CBurnProgress, QueryCancelReadsTheLowestByteOfCancelRequested) {
    TestBackupHost host;
    CBurnProgress sink(host);
    for (auto [flag, answer] : {std::pair{0, false}, {1, true}, {0x100, false}, {0x101, true}}) {
        host.cancelRequested = flag;
        EXPECT_EQ(sink.QueryCancel(), answer) << flag;
    }
}

}  // namespace
}  // namespace corvane
