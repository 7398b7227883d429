// The real backup window under the offscreen platform, over a fixture machine with one USB
// stick and the scripted disc layer.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <csignal>

#include "FakeNotificationService.h"
#include "archive/BackupKey.h"
#include "app/CloseOnSignal.h"
#include "backup/CBackup.h"
#include "platform/DialogUnits.h"
#include "platform/ElidedLabel.h"
#include "disc/DiscLayer.h"
#include "support/InstantClock.h"
#include "support/PeerTools.h"
#include "support/ScopedTmpdir.h"
#include "support/ScratchFolder.h"
#include "support/ScriptedDiscMaster.h"
#include "support/ScriptedPrompt.h"

namespace corvane {
namespace {

// What the fixture machine holds besides its system disk.
struct Machine {
    bool stick = true;
    std::string labelLink = "STICK";  // the stick's /dev/disk/by-label name, as udev writes it
    int driveScanMs = 0;              // how long the drives take to answer the scan
    // Where the window tells the desktop things: by default a bus that is not there.
    DesktopNotifier notifier{QDBusConnection(QStringLiteral("no session bus"))};
};

struct WindowRig {
    test::ScratchFolder root;   // the machine: mount table and sysfs
    test::ScratchFolder stick;  // the stick's content
    std::shared_ptr<test::ScriptedDiscMaster> master = std::make_shared<test::ScriptedDiscMaster>();
    test::ScriptedPrompt prompt;
    test::InstantClock clock;  // the pauses between disc checks cost nothing here
    std::unique_ptr<CBackup> window;
    std::string pickedFolder;  // what the folder picker answers

    // discLayer: the disc layer the window uses instead of the scripted one.
    explicit WindowRig(bool withRecorder = true, std::function<std::shared_ptr<IDiscMaster>()> discLayer = nullptr,
                       Machine machine = {}) {
        root.WriteFile("proc/self/mountinfo", "22 1 254:0 / / rw - ext4 /dev/vda rw\n" +
                                                  (machine.stick ? "30 22 8:17 / " + stick.path() + " rw - vfat /dev/sdb1 rw\n"
                                                                 : std::string()));
        root.WriteFile("sys/block/sdb/removable", "1\n");
        root.WriteFile("sys/block/sdb/sdb1/partition", "1\n");
        root.WriteFile("dev/sdb1", "");
        root.WriteFile("sys/block/sr0/removable", "1\n");
        root.WriteFile("dev/sr0", "");
        std::filesystem::create_directories(root / "dev/disk/by-label");
        std::filesystem::create_symlink("../../sdb1", root / ("dev/disk/by-label/" + machine.labelLink));
        stick.WriteFile("a.txt", "hello");
        stick.WriteFile("big.bin", test::SampleBytes(8 << 20, 1));
        if (!withRecorder) master->Fail("Open");
        master->SetEnumDelay(std::chrono::milliseconds(machine.driveScanMs));
        if (!discLayer) discLayer = [this] { return master; };
        BackupWindowServices services{discLayer, root.path(), [this](QWidget*) { return pickedFolder; }};
        services.notifier = machine.notifier;
        window = std::make_unique<CBackup>(services);
        window->programPath = stick.path() + "/a.txt";
        window->clock = &clock;
        window->show();
        if (machine.driveScanMs == 0) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return window->RecordersListed(); }, 30000));
        }
    }

    template <class T>
    T* Control(int id) const {
        return qobject_cast<T*>(FindControl(window.get(), id));
    }
    QString Status() const { return Control<ElidedLabel>(1006)->FullText(); }
    bool InputsEnabled() const {
        for (int id : {1003, 1004, 1000, 1014, 1015})
            if (!FindControl(window.get(), id)->isEnabled()) return false;
        return true;
    }
    bool WaitForIdle() const {
        QElapsedTimer timer;
        timer.start();
        while (!window->idle && timer.elapsed() < 30000) QTest::qWait(5);
        QCoreApplication::processEvents();
        return window->idle != 0;
    }
};

TEST(BackupWindow, ShowsTheStickAndTheRecorder) {
    WindowRig rig;
    auto* sources = rig.Control<QComboBox>(1004);
    ASSERT_EQ(sources->count(), 2);
    EXPECT_EQ(sources->currentText(), QString::fromStdString(rig.stick.path() + " (STICK)"));
    EXPECT_EQ(sources->itemText(1), "Other folder...");
    auto* recorders = rig.Control<QComboBox>(1003);
    ASSERT_EQ(recorders->count(), 1);
    EXPECT_EQ(recorders->currentText(), "/dev/sr0");
    EXPECT_FALSE(rig.Control<QProgressBar>(1005)->isVisible());
    EXPECT_EQ(rig.Control<QLabel>(1007)->text(), "0 MB");
}

TEST(BackupWindow, PasswordsMustAgreeAndHoldAtMostSixteenCharacters) {
    WindowRig rig;
    auto* password = rig.Control<QLineEdit>(1014);
    auto* confirmation = rig.Control<QLineEdit>(1015);
    QTest::keyClicks(password, "0123456789abcdefg");
    EXPECT_EQ(password->text(), "0123456789abcdef") << "a 17th character is refused";
    QTest::keyClicks(confirmation, "0123456789ABCDEF");
    rig.Control<QPushButton>(1000)->click();
    EXPECT_EQ(rig.prompt.Texts(), std::vector<std::string>{"Password is not confirmed."});
    EXPECT_TRUE(rig.InputsEnabled());
    EXPECT_TRUE(rig.window->idle) << "no job was started";

    // Typed letters that take two bytes each: the ninth would pass 16 bytes.
    password->clear();
    for (int i = 0; i < 9; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QString::fromUtf8("\xC3\xA9"));
        QApplication::sendEvent(password, &press);
    }
    EXPECT_EQ(password->text(), QString::fromUtf8("\xC3\xA9").repeated(8)) << "16 bytes is what a stream can hold";
}

TEST(BackupWindow, BurnWithoutARecorderSaysSo) {
    WindowRig rig(/*withRecorder=*/false);
    EXPECT_EQ(rig.Control<QComboBox>(1003)->count(), 0);
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(rig.WaitForIdle());
    EXPECT_EQ(rig.prompt.Texts(), std::vector<std::string>{"You must select a CD/DVD writable drive."});
    EXPECT_TRUE(rig.InputsEnabled());
}

TEST(BackupWindow, NoAtTheConfirmationEndsCancelledWithInputsBack) {
    WindowRig rig;
    rig.prompt.answer = [](const Message& m) {
        return m.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    };
    rig.Control<QPushButton>(1000)->click();
    EXPECT_FALSE(rig.InputsEnabled()) << "inputs are locked while the job runs";
    ASSERT_TRUE(rig.WaitForIdle());
    ASSERT_EQ(rig.prompt.messages.size(), 1u);
    EXPECT_EQ(rig.prompt.messages[0].text.rfind("Are you sure you want to burn 8.0 MB to disc?", 0), 0u);
    EXPECT_EQ(rig.Status(), "Cancelled");
    EXPECT_TRUE(rig.InputsEnabled());
    EXPECT_EQ(rig.window->LastOutcome(), BackupOutcome::Cancelled);
    EXPECT_EQ(rig.Control<QLabel>(1007)->text(), "0 MB") << "nothing read: the counter keeps its format";
}

TEST(BackupWindow, CancelStopsTheJobAndTheNextCancelCloses) {
    WindowRig rig;
    auto* cancel = rig.Control<QPushButton>(2);
    // The user presses Cancel while the confirmation is still on screen, then says Yes.
    rig.prompt.answer = [&](const Message& m) {
        if (m.buttons != MessageButtons::YesNo) return MessageAnswer::Ok;
        cancel->click();
        return MessageAnswer::Yes;
    };
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(rig.WaitForIdle());
    EXPECT_TRUE(rig.window->isVisible()) << "a Cancel during a job does not close the window";
    EXPECT_EQ(rig.Status(), "Cancelled");
    EXPECT_TRUE(rig.master->recordedDiscs().empty());

    cancel->click();
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(rig.window->result(), QDialog::Rejected);
}

TEST(BackupWindow, BurnsTheStickAndShowsTheTotals) {
    WindowRig rig;
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(rig.WaitForIdle());
    EXPECT_EQ(rig.Status(), "Completed Successfully!");
    EXPECT_EQ(rig.master->recordedDiscs().size(), 1u);
    EXPECT_EQ(rig.Control<QLabel>(1007)->text(), "8 MB") << "bytes read, shown by the display rule";
    EXPECT_TRUE(rig.Control<QProgressBar>(1005)->isVisible());
    EXPECT_EQ(rig.Control<QProgressBar>(1005)->value(), 100);
    EXPECT_TRUE(rig.Control<QPushButton>(2)->isEnabled());

    // Staging files live in the job's private folder and go when the job ends.
    ASSERT_FALSE(rig.window->stagedFiles.empty());
    for (const auto& path : rig.window->stagedFiles) EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_TRUE(rig.window->tempFolder.path().empty());
}

// Encryption is offered only with a password, and then seals every stream of the backup.
TEST(BackupWindow, EncryptCheckBoxNeedsAPasswordAndSealsTheBackup) {
    WindowRig rig;
    auto* encrypt = rig.Control<QCheckBox>(1016);
    ASSERT_NE(encrypt, nullptr);
    EXPECT_EQ(encrypt->text(), "Encrypt the files with the password");
    EXPECT_FALSE(encrypt->isEnabled());
    auto* password = rig.Control<QLineEdit>(1014);
    QTest::keyClicks(password, "Kestrel7");
    EXPECT_TRUE(encrypt->isEnabled());
    encrypt->setChecked(true);
    password->clear();
    EXPECT_FALSE(encrypt->isEnabled());
    EXPECT_FALSE(encrypt->isChecked()) << "a box that cannot be used is not left ticked";

    QTest::keyClicks(password, "Kestrel7");
    QTest::keyClicks(rig.Control<QLineEdit>(1015), "Kestrel7");
    encrypt->setChecked(true);
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(rig.WaitForIdle());
    EXPECT_EQ(rig.Status(), "Completed Successfully!");
    EXPECT_TRUE(encrypt->isEnabled() && encrypt->isChecked()) << "the inputs are back as they were";
    ASSERT_EQ(rig.master->recordedDiscs().size(), 1u);
    int streams = 0;
    for (const auto& file : rig.master->recordedDiscs()[0].files) {
        if (!file.name.ends_with(".cvn")) continue;
        ++streams;
        const std::size_t pathLength = static_cast<unsigned char>(file.bytes[0]);
        EXPECT_TRUE(IsSealedMarker(file.bytes.substr(4 + pathLength, 16))) << file.name;
        EXPECT_EQ(file.bytes.find("a.txt"), std::string::npos) << file.name;
        EXPECT_EQ(file.bytes.find("Kestrel7"), std::string::npos) << file.name;
    }
    EXPECT_EQ(streams, 1);
}

// "Verify discs after burning" is ticked by default for an optical drive, not for an image-file
// recorder, and the backup started with it ticked reads its discs back.
TEST(BackupWindow, VerifyCheckBoxDefaultsByRecorderAndReachesTheJob) {
    for (bool optical : {true, false}) {
        SCOPED_TRACE(optical ? "optical drive" : "image files");
        test::ScratchFolder images;
        std::function<std::shared_ptr<IDiscMaster>()> imageLayer = [&] {
            DiscLayerOptions options{{{"6 MiB", 6u << 20, images.path()}}, false};
            return std::shared_ptr<IDiscMaster>(CreateDiscMaster(options));
        };
        WindowRig rig(true, optical ? nullptr : imageLayer);
        auto* verify = rig.Control<QCheckBox>(1017);
        ASSERT_NE(verify, nullptr);
        EXPECT_EQ(verify->text(), "Verify discs after burning");
        EXPECT_EQ(verify->isChecked(), optical);
        verify->setChecked(true);
        rig.prompt.answer = [](const Message& m) {
            return m.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
        };
        rig.Control<QPushButton>(1000)->click();
        EXPECT_FALSE(verify->isEnabled()) << "it cannot change while the job runs";
        ASSERT_TRUE(rig.WaitForIdle());
        EXPECT_EQ(rig.window->LastOutcome(), BackupOutcome::Completed) << rig.Status().toStdString();
        EXPECT_TRUE(verify->isEnabled() && verify->isChecked());
        ASSERT_TRUE(rig.window->verifyRecordedDisc) << "the job was given the check";
        if (optical) continue;
        const std::vector<std::string> discs = test::FolderNames(images.path());
        ASSERT_EQ(discs.size(), 1u);
        EXPECT_EQ(rig.window->verifyRecordedDisc(images / discs[0]), "") << "the disc it wrote is good";
    }
}

// With the real disc layer writing image files, staging files live in a hidden folder beside
// the images, never under TMPDIR, and are all gone once the job ends: after a backup over two
// discs, and after one cancelled at "insert another disc".
TEST(BackupWindow, TemporaryFilesGoWithTheWindowAfterABackupOrACancel) {
    for (bool cancelAtNextDisc : {false, true}) {
        SCOPED_TRACE(cancelAtNextDisc ? "cancelled" : "finished");
        test::ScratchFolder images;
        WindowRig rig(true, [&] {
            DiscLayerOptions options{{{"6 MiB", 6u << 20, images.path()}}, false};
            return std::shared_ptr<IDiscMaster>(CreateDiscMaster(options));
        });
        test::ScopedTmpdir tmp;  // made after the rig's own folders, so it only sees the window's
        rig.stick.WriteFile("Sub/more.bin", test::SampleBytes(8 << 20, 2));  // a second stream (3.6 MiB compressed, like the root's): disc 1 is full
        std::vector<std::string> atNextDisc, tmpAtNextDisc;
        rig.prompt.answer = [&](const Message& m) {
            if (m.buttons == MessageButtons::YesNo) return MessageAnswer::Yes;
            if (m.buttons != MessageButtons::RetryCancel) return MessageAnswer::Ok;
            atNextDisc = test::HiddenFolders(images.path());
            tmpAtNextDisc = test::FolderNames(tmp.path());
            return cancelAtNextDisc ? MessageAnswer::Cancel : MessageAnswer::Retry;
        };
        rig.Control<QPushButton>(1000)->click();
        ASSERT_TRUE(rig.WaitForIdle());
        EXPECT_EQ(rig.window->LastOutcome(), cancelAtNextDisc ? BackupOutcome::Cancelled : BackupOutcome::Completed);
        EXPECT_EQ(test::FolderNames(images.path()).size(), cancelAtNextDisc ? 1u : 2u);
        EXPECT_EQ(atNextDisc.size(), 1u) << "the job's private folder, seen while the question is up";
        EXPECT_EQ(tmpAtNextDisc, std::vector<std::string>{});
        EXPECT_EQ(test::HiddenFolders(images.path()), std::vector<std::string>{});
        rig.window.reset();
        EXPECT_EQ(test::FolderNames(tmp.path()), std::vector<std::string>{});
    }
}

// A signal during a backup stops the job and closes the window, as its Cancel would; the
// disc recorded before stays, the temporary files go with the window.
TEST(BackupWindow, ASignalStopsTheJobAndClosesTheWindow) {
    test::ScratchFolder images;
    WindowRig rig(true, [&] {
        DiscLayerOptions options{{{"6 MiB", 6u << 20, images.path()}}, false};
        return std::shared_ptr<IDiscMaster>(CreateDiscMaster(options));
    });
    rig.stick.WriteFile("Sub/more.bin", test::SampleBytes(8 << 20, 2));
    test::ScopedTmpdir tmp;
    CloseOnSignal closer(*rig.window);
    rig.prompt.answer = [&](const Message& m) {
        if (m.buttons == MessageButtons::YesNo) return MessageAnswer::Yes;
        if (m.buttons == MessageButtons::RetryCancel) ::raise(SIGTERM);  // while disc 2 is begun
        return m.buttons == MessageButtons::RetryCancel ? MessageAnswer::Retry : MessageAnswer::Ok;
    };
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.window->isVisible(); }, 60000));
    EXPECT_EQ(rig.window->LastOutcome(), BackupOutcome::Cancelled);
    EXPECT_EQ(test::FolderNames(images.path()).size(), 1u);
    rig.window.reset();
    EXPECT_EQ(test::FolderNames(tmp.path()), std::vector<std::string>{});
}

// The drive scan runs off the GUI thread: the window answers while a drive takes its time, and
// "Burn" waits for the list.
TEST(BackupWindow, StaysResponsiveWhileTheDrivesAreScanned) {
    QElapsedTimer clock;
    clock.start();
    WindowRig rig(true, nullptr, Machine{true, "STICK", 1500});
    EXPECT_LT(clock.elapsed(), 1000) << "the window shows before the scan ends";
    EXPECT_FALSE(rig.window->RecordersListed());
    EXPECT_FALSE(rig.Control<QPushButton>(1000)->isEnabled());
    qint64 last = clock.elapsed();
    qint64 longestGap = 0;
    while (!rig.window->RecordersListed() && clock.elapsed() < 30000) {
        QTest::qWait(10);
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    }
    ASSERT_TRUE(rig.window->RecordersListed());
    EXPECT_GE(clock.elapsed(), 1500);
    EXPECT_LT(longestGap, 500) << "events were handled all through the scan";
    EXPECT_EQ(rig.Control<QComboBox>(1003)->currentText(), "/dev/sr0");
    EXPECT_TRUE(rig.Control<QPushButton>(1000)->isEnabled());
}

// A drive the disc layer could not open is listed with its reason, and a drive stays selected;
// "Burn" on it says the reason again and starts nothing; the list follows drives and mounts.
TEST(BackupWindow, ADriveInUseShowsWithItsReason) {
    test::ScratchFolder root;
    test::ScriptedPrompt prompt;
    auto master = std::make_shared<test::ScriptedDiscMaster>();
    const std::string rootMount = "22 1 254:0 / / rw - ext4 /dev/vda rw\n";
    root.WriteFile("proc/self/mountinfo", rootMount + "31 22 11:1 / /media/u/OLD\\040DISC ro - iso9660 /dev/sr1 ro\n");
    for (const char* drive : {"sr0", "sr1"}) {
        root.WriteFile(std::string("sys/block/") + drive + "/removable", "1\n");
        root.WriteFile(std::string("dev/") + drive, "");
    }
    BackupWindowServices services{[&] { return master; }, root.path(), [](QWidget*) { return std::string(); }, true};
    CBackup window(services);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.RecordersListed(); }, 30000));
    auto* recorders = qobject_cast<QComboBox*>(FindControl(&window, 1003));
    ASSERT_EQ(recorders->count(), 2);
    EXPECT_EQ(recorders->itemText(1), "/dev/sr1: mounted at /media/u/OLD DISC: unmount it to burn");
    EXPECT_EQ(recorders->currentText(), "/dev/sr0");

    recorders->setCurrentIndex(1);
    qobject_cast<QPushButton*>(FindControl(&window, 1000))->click();
    ASSERT_EQ(prompt.Texts(), std::vector<std::string>{"/dev/sr1: mounted at /media/u/OLD DISC: unmount it to burn."});
    EXPECT_EQ(window.LastOutcome(), std::nullopt) << "no backup was started";
    EXPECT_TRUE(std::ranges::none_of(master->log(), [](const std::string& call) { return call.starts_with("RecordDisc"); }));

    // The disc is unmounted: the drive's reason follows.
    root.WriteFile("proc/self/mountinfo", rootMount);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorders->itemText(1) == "/dev/sr1: in use by another program"; }, 30000))
        << recorders->itemText(1).toStdString();

    // A drive plugged in later is listed without reopening the window; the selection stays.
    root.WriteFile("sys/block/sr2/removable", "1\n");
    root.WriteFile("dev/sr2", "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorders->count() == 3; }, 30000));
    EXPECT_EQ(recorders->itemText(2), "/dev/sr2: in use by another program");
    EXPECT_EQ(recorders->currentIndex(), 1);
}

// The system's own mount table: a file system mounted or unmounted (a disc mounted by the desktop
// or let go) lists the recorders again. Needs the right to mount.
TEST(BackupWindow, AMountOnTheSystemListsTheRecordersAgain) {
    test::ScratchFolder mountPoint;
    auto master = std::make_shared<test::ScriptedDiscMaster>();
    std::atomic<int> scans{0};
    BackupWindowServices services{[&] {
                                      ++scans;
                                      return master;
                                  },
                                  "/", [](QWidget*) { return std::string(); }};
    CBackup window(services);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.RecordersListed(); }, 30000));
    // Other programs may mount meanwhile (tests run side by side): each step waits for more scans.
    QTest::qWait(200);
    const int before = scans;
    const std::string mount = "mount -t tmpfs corvane-test '" + mountPoint.path() + "' 2>/dev/null";
    if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "this user may not mount";
    const bool rescanned = QTest::qWaitFor([&] { return scans > before; }, 30000);
    QTest::qWait(200);
    const int mounted = scans;
    EXPECT_EQ(std::system(("umount '" + mountPoint.path() + "'").c_str()), 0);
    EXPECT_TRUE(rescanned);
    EXPECT_TRUE(QTest::qWaitFor([&] { return scans > mounted; }, 30000));
}

bool AsksToStop(const Message& m) { return m.text.find("Stop the recording?") != std::string::npos; }

// The close box while a disc is recorded asks first (default No); only Yes stops the recording.
TEST(BackupWindow, TheCloseBoxDuringRecordingCancelsOnlyAfterTheAnswer) {
    for (MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
        SCOPED_TRACE(answer == MessageAnswer::Yes ? "Yes" : "No");
        WindowRig rig;
        int questions = 0;
        rig.prompt.answer = [&](const Message& m) {
            if (!AsksToStop(m)) return m.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
            ++questions;
            EXPECT_TRUE(m.defaultNo);
            return answer;
        };
        rig.master->SetDuringRecording([&](int block) {
            if (block != 2) return;
            QMetaObject::invokeMethod(rig.window.get(), [&] { rig.window->close(); }, Qt::BlockingQueuedConnection);
        });
        rig.Control<QPushButton>(1000)->click();
        ASSERT_TRUE(rig.WaitForIdle());
        EXPECT_EQ(questions, 1);
        const bool stopped = answer == MessageAnswer::Yes;
        EXPECT_EQ(rig.master->recordedDiscs().size(), stopped ? 0u : 1u);
        EXPECT_EQ(rig.window->LastOutcome(), stopped ? BackupOutcome::Cancelled : BackupOutcome::Completed);
        EXPECT_TRUE(rig.window->isVisible()) << "closing waits for the job; a second Cancel closes";
    }
}

// The close box while the disc is being closed is ignored: the disc holds all its data, and
// the backup ends as recorded, without a question.
TEST(BackupWindow, TheCloseBoxWhileTheDiscIsClosedLeavesAFinishedBackup) {
    WindowRig rig;
    rig.prompt.answer = [&](const Message& m) {
        return m.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    };
    int closingBlock = 0;
    rig.master->SetProgressBlocks(4);
    rig.master->SetDuringRecording([&](int block) {
        if (block != 5) return;
        closingBlock = block;
        QMetaObject::invokeMethod(rig.window.get(), [&] { rig.window->close(); }, Qt::BlockingQueuedConnection);
    });
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(rig.WaitForIdle());
    EXPECT_EQ(closingBlock, 5) << "the window was closed while the disc was closed";
    EXPECT_EQ(std::ranges::count_if(rig.prompt.messages, AsksToStop), 0);
    EXPECT_EQ(rig.master->recordedDiscs().size(), 1u);
    EXPECT_EQ(rig.window->LastOutcome(), BackupOutcome::Completed);
    EXPECT_EQ(rig.Status(), "Completed Successfully!");
}

// A signal while a disc is recorded is not a cancel: the recording ends, then the job stops
// and the window closes, without a question.
TEST(BackupWindow, ASignalDuringRecordingWaitsForTheDiscThenCloses) {
    WindowRig rig;
    CloseOnSignal closer(*rig.window);
    rig.master->SetDuringRecording([&](int block) {
        if (block != 1) return;
        ::raise(SIGTERM);
        QElapsedTimer timer;
        timer.start();
        while (!rig.window->stopAfterRecording && timer.elapsed() < 10000) QThread::msleep(5);
    });
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.window->isVisible(); }, 60000));
    EXPECT_EQ(rig.master->recordedDiscs().size(), 1u) << "the disc was recorded to its end";
    EXPECT_EQ(rig.window->LastOutcome(), BackupOutcome::Completed) << "that disc was the whole backup";
    EXPECT_EQ(std::ranges::count_if(rig.prompt.messages, AsksToStop), 0);
}

// A signal while a real message box waits for the user dismisses it with its safe answer
// (No to the confirmation), and the window closes.
TEST(BackupWindow, ASignalDismissesAnOpenMessageBoxAndClosesTheWindow) {
    WindowRig rig;
    SetPrompt(nullptr);  // the real message boxes
    CloseOnSignal closer(*rig.window);
    QTimer whenAsked;
    QObject::connect(&whenAsked, &QTimer::timeout, [&] {
        if (!qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) return;
        whenAsked.stop();
        ::raise(SIGINT);
    });
    whenAsked.start(10);
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.window->isVisible(); }, 60000));
    EXPECT_EQ(rig.window->LastOutcome(), BackupOutcome::Cancelled);
    EXPECT_TRUE(rig.master->recordedDiscs().empty());
}

std::string AllTexts(const test::ScriptedPrompt& prompt) {
    std::string all;
    for (const auto& text : prompt.Texts()) all += text + "\n";
    return all;
}

// The stream names of every recorded disc.
std::vector<std::string> StreamNames(const test::ScriptedDiscMaster& master) {
    std::vector<std::string> names;
    for (const auto& disc : master.recordedDiscs())
        for (const auto& name : disc.names())
            if (name.ends_with(".cvn")) names.push_back(name);
    return names;
}

// A label with a slash and bytes of an OEM code page (not UTF-8): the entry shows it as
// restore will, and "Burn" backs the stick up under a name the disc can hold.
TEST(BackupWindow, BurnsAStickWhoseLabelIsNoFileName) {
    WindowRig rig(true, nullptr, {.labelLink = "A\\x2fB\\x20CAF\\x82"});
    rig.prompt.answer = [](const Message& m) {
        return m.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    };
    EXPECT_EQ(rig.Control<QComboBox>(1004)->currentText(),
              QString::fromStdString(rig.stick.path()) + QString::fromUtf8(" (A/B CAF\u201A)"));
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(rig.WaitForIdle());
    EXPECT_EQ(rig.Status(), "Completed Successfully!") << AllTexts(rig.prompt);
    const auto names = StreamNames(*rig.master);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("A_B CAF\u201A ", 0), 0u) << names[0];
}

// "Other folder..." asks for a folder and backs it up under its name, on a machine without a
// USB stick; a picker closed without a choice leaves the selection as it was.
TEST(BackupWindow, BacksUpAnyFolderPickedThroughOtherFolder) {
    WindowRig rig(true, nullptr, {.stick = false});
    test::ScratchFolder home;
    const std::string folder = home.MakeFolder("Family Photos");
    home.WriteFile("Family Photos/beach.jpg", "sand");
    auto* sources = rig.Control<QComboBox>(1004);
    ASSERT_EQ(sources->count(), 1);
    EXPECT_EQ(sources->currentIndex(), -1) << "no stick: nothing is chosen";

    sources->setFocus();
    QTest::keyClick(sources, Qt::Key_Down);  // picks "Other folder...", the picker gives nothing
    EXPECT_EQ(sources->currentIndex(), -1);

    rig.pickedFolder = folder;
    QTest::keyClick(sources, Qt::Key_Down);
    ASSERT_EQ(sources->count(), 2);
    EXPECT_EQ(sources->currentText(), QString::fromStdString(folder));
    EXPECT_EQ(sources->itemText(1), "Other folder...");

    rig.prompt.answer = [](const Message& m) {
        return m.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    };
    rig.Control<QPushButton>(1000)->click();
    ASSERT_TRUE(rig.WaitForIdle());
    EXPECT_EQ(rig.Status(), "Completed Successfully!") << AllTexts(rig.prompt);
    const auto names = StreamNames(*rig.master);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("Family Photos ", 0), 0u) << names[0];
    ASSERT_FALSE(rig.master->recordedDiscs().empty());
}

// A password that could not be typed back to restore is refused before any job starts.
TEST(BackupWindow, RefusesAPasswordThatCouldNotBeTypedBack) {
    WindowRig rig;
    auto* password = rig.Control<QLineEdit>(1014);
    auto* confirmation = rig.Control<QLineEdit>(1015);
    password->insert(QStringLiteral("ab\tc"));
    EXPECT_EQ(password->text(), "") << "a pasted control character is refused";

    struct Case {
        QString typed;
        const char* says;
    } cases[] = {
        {QStringLiteral("ab\tc"), "The password holds a control character, so it could not be typed to restore the backup."},
        {QStringLiteral("   "), "A password of only spaces would leave the backup unprotected."},
    };
    for (const auto& c : cases) {
        rig.prompt.messages.clear();
        password->setText(c.typed);  // as a program could put it there, past the validator
        confirmation->setText(c.typed);
        rig.Control<QPushButton>(1000)->click();
        EXPECT_EQ(rig.prompt.Texts(), std::vector<std::string>{c.says});
        EXPECT_TRUE(rig.window->idle) << "no job was started";
        EXPECT_TRUE(rig.InputsEnabled());
    }
}

TEST(BackupWindow, EnterNeverClosesTheWindow) {
    WindowRig rig;
    rig.prompt.answer = [](const Message&) { return MessageAnswer::No; };
    QTest::keyClick(rig.window.get(), Qt::Key_Return);
    ASSERT_TRUE(rig.WaitForIdle());
    EXPECT_TRUE(rig.window->isVisible());
}

// "Insert another disc" and the end of the backup also reach the desktop's notification
// service; where the bus has no such service the backup runs as it would anyway.
TEST(BackupWindow, TellsTheDesktopToChangeDiscsAndWhenTheBackupEnds) {
    test::PrivateSessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    for (bool serviceRuns : {true, false}) {
        SCOPED_TRACE(serviceRuns ? "with a notification service" : "without one");
        test::FakeNotifications service;
        if (serviceRuns) {
            ASSERT_TRUE(bus.ServeNotifications(service));
        }
        test::ScratchFolder images;
        Machine machine;
        machine.notifier = DesktopNotifier(bus.Connect(QStringLiteral("window")));
        WindowRig rig(true, [&] {
            DiscLayerOptions options{{{"6 MiB", 6u << 20, images.path()}}, false};
            return std::shared_ptr<IDiscMaster>(CreateDiscMaster(options));
        }, machine);
        rig.stick.WriteFile("Sub/more.bin", test::SampleBytes(8 << 20, 2));  // a second disc is needed
        rig.prompt.answer = [](const Message& m) {
            if (m.buttons == MessageButtons::YesNo) return MessageAnswer::Yes;
            return m.buttons == MessageButtons::RetryCancel ? MessageAnswer::Retry : MessageAnswer::Ok;
        };
        rig.Control<QPushButton>(1000)->click();
        ASSERT_TRUE(rig.WaitForIdle());
        EXPECT_EQ(rig.window->LastOutcome(), BackupOutcome::Completed);
        EXPECT_EQ(test::FolderNames(images.path()).size(), 2u);
        const QStringList expected = serviceRuns ? QStringList{QStringLiteral("Please insert another disc"),
                                                              QStringLiteral("Completed Successfully!")}
                                                 : QStringList{};
        EXPECT_TRUE(QTest::qWaitFor([&] { return service.bodies.size() >= expected.size(); }, 10000));
        QTest::qWait(50);  // nothing more arrives
        EXPECT_EQ(service.bodies, expected);
        if (serviceRuns) QDBusConnection(QStringLiteral("service")).unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    }
}

TEST(FormatCount, PlainBytesUpToOneMebibyteThenWholeMegabytesAndZeroAsTheWindowShowsIt) {
    struct Case {
        std::uint64_t value;
        const char* text;
    } cases[] = {{0, "0 MB"}, {300, "300"}, {1048576, "1048576"}, {1048577, "1 MB"}, {3145727, "2 MB"},
                 {5u * 1048576 + 10, "5 MB"}, {6ull << 32, "24576 MB"}};
    for (auto c : cases) EXPECT_EQ(FormatCount(c.value), c.text);
}

}  // namespace
}  // namespace corvane
