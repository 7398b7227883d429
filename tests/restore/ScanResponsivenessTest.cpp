#include <gtest/gtest.h>

#include <QTimer>
#include <cstdio>

#include "RestoreFixture.h"

namespace corvane {
namespace {

using test::RestoreTest;

// "F0001" for 1: folder names that sort as their numbers do.
std::string FolderName(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "F%04d", number);
    return name;
}

// Many streams are read while the GUI thread is busy, then the read of the last one is held as
// a slow disc would hold it. The window must take events between the turns that add the ready
// streams, and while the held read lasts.
TEST_F(RestoreTest, TheWindowTakesEventsWhileTheScanAddsStreamsAndWhileAReadIsHeld) {
    const int ready = 2 * static_cast<int>(CRestore::kStreamsPerTurn) + 1;
    Stream("L 0812251430 0.cvn", "\\");
    for (int i = 1; i <= ready; ++i)
        Stream("L 0812251430 " + std::to_string(i) + ".cvn", "\\" + FolderName(i));
    const std::string held = " " + std::to_string(ready + 1) + ".cvn";
    Stream("L 0812251430" + held, "\\Last");
    gate = std::make_unique<test::GatedFileSystem>(held);

    Open({}, gate.get(), false);
    window->show();
    gate->WaitUntilHeld();  // every stream before the held one is read while this thread waits

    auto streamsShown = [&] {
        const QTreeWidgetItem* backup = Item({"L", "08-12-25 14:30"});
        return backup ? backup->childCount() : 0;
    };
    std::vector<int> shownAtTicks;  // streams in the tree each time the timer fired during the scan
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!window->scanFinished) shownAtTicks.push_back(streamsShown());
    });
    ticker.start(0);
    const int readBeforeTheGate = ready + 1;  // the root's stream too
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !shownAtTicks.empty() && shownAtTicks.back() == readBeforeTheGate; },
        60000))
        << "the timer fired with every stream read in the tree while the held read lasted";
    EXPECT_TRUE(std::any_of(shownAtTicks.begin(), shownAtTicks.end(),
                            [&](int shown) { return shown > 0 && shown < readBeforeTheGate; }))
        << "the timer fired between the turns that added the streams read at once";
    EXPECT_TRUE(Tree().showLoadingCursor());

    gate->Release();
    WaitForScan();
    ticker.stop();
    std::string expected = "L\n  08-12-25 14:30\n";
    for (int i = 1; i <= ready; ++i) expected += "    " + FolderName(i) + "\n";
    expected += "    Last\n    ROOT\n";
    EXPECT_EQ(Outline(), expected);
    EXPECT_FALSE(Tree().showLoadingCursor());
}

}  // namespace
}  // namespace corvane
