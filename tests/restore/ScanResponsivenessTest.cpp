#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <set>
#include <cstdio>

#include "RestoreFixture.h"
#include "platform/DialogUnits.h"

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

// "Restore..." on the backup while the scan still reads a slow disc waits for the scan, with the
// wait cursor and the notice saying so, and then hands over every folder of the backup.
TEST_F(RestoreTest, RestoreDuringTheScanWaitsForItAndRestoresEveryFolder) {
    const int folders = 2 * static_cast<int>(CRestore::kStreamsPerTurn) + 1;
    Stream("L 0812251430 0.cvn", "\\", {{"root.txt", "r"}});
    for (int i = 1; i <= folders; ++i)
        Stream("L 0812251430 " + std::to_string(i) + ".cvn", "\\" + FolderName(i), {{"f.txt", "f"}});
    const std::string held = " " + std::to_string(folders + 1) + ".cvn";
    Stream("L 0812251430" + held, "\\Last", {{"last.txt", "l"}});
    gate = std::make_unique<test::GatedFileSystem>(held);
    Open({}, gate.get(), false);
    window->show();
    gate->WaitUntilHeld();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item({"L", "08-12-25 14:30", FolderName(1).c_str()}) != nullptr; }, 60000));
    ASSERT_FALSE(window->scanFinished);

    std::vector<RestoreEntries> handedOver;
    window->runExtract = [&](RestoreEntries& entries) { handedOver.push_back(entries); };
    QString noticeWhileWaiting;
    bool waitCursor = false;
    QTimer::singleShot(50, [&] {
        noticeWhileWaiting = qobject_cast<QLabel*>(FindControl(window.get(), 1021))->text();
        waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        EXPECT_TRUE(handedOver.empty()) << "nothing is restored before the scan has ended";
        gate->Release();
    });
    Tree().setCurrentItem(Item({"L", "08-12-25 14:30"}));
    window->OnRestore();

    EXPECT_TRUE(window->scanFinished);
    EXPECT_TRUE(waitCursor);
    EXPECT_TRUE(noticeWhileWaiting.contains("restore starts when")) << noticeWhileWaiting.toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_EQ(handedOver.size(), 1u);
    std::set<std::string> streams(handedOver[0].streamPaths.begin(), handedOver[0].streamPaths.end());
    EXPECT_EQ(streams.size(), static_cast<std::size_t>(folders + 2)) << "every folder of the backup, the root and the last";
    EXPECT_EQ(handedOver[0].size(), static_cast<std::size_t>(folders + 2));
    EXPECT_TRUE(streams.count(disc / ("L 0812251430" + held)));
}

// A stopped scan has not read everything: Restore... waiting for it restores nothing.
TEST_F(RestoreTest, RestoreWaitingForAStoppedScanRestoresNothing) {
    Stream("L 0812251430 0.cvn", "\\");
    Stream("L 0812251430 1.cvn", "\\A");
    Stream("L 0812251430 2.cvn", "\\B");
    gate = std::make_unique<test::GatedFileSystem>(" 1.cvn");
    Open({}, gate.get(), false);
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item({"L", "08-12-25 14:30", "ROOT"}) != nullptr; }, 60000));
    bool handedOver = false;
    window->runExtract = [&](RestoreEntries&) { handedOver = true; };
    QTimer::singleShot(50, [&] {
        window->reject();
        gate->Release();
    });
    Tree().setCurrentItem(Item({"L", "08-12-25 14:30"}));
    window->OnRestore();
    EXPECT_TRUE(window->scanFinished);
    EXPECT_FALSE(handedOver);
}

// Streams missing from the middle and the start of a backup are named when the scan ends.
TEST_F(RestoreTest, MissingStreamsAreNamedWhenTheScanEnds) {
    Stream("L 0812251430 2.cvn", "\\");
    Stream("L 0812251430 5.cvn", "\\A");
    Stream("M 0901011200 0.cvn", "\\");
    Open();
    ASSERT_EQ(scanWarnings.Texts().size(), 1u);
    EXPECT_EQ(scanWarnings.Texts()[0],
              "Not everything on the discs could be read:\n\n"
              "streams 0\u20131 of L 0812251430 were not found: is a disc missing?\n"
              "streams 3\u20134 of L 0812251430 were not found: is a disc missing?");
    EXPECT_EQ(Outline(), "L\n  08-12-25 14:30\n    A\n    ROOT\nM\n  09-01-01 12:00\n    ROOT\n");
}

}  // namespace
}  // namespace corvane
