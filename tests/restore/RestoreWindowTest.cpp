#include <gtest/gtest.h>

#include <QLabel>
#include <deque>
#include <filesystem>

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "RestoreFixture.h"
#include "archive/JobRig.h"
#include "disc/ImageFileSystem.h"
#include "extract/CExtract.h"
#include "platform/DialogUnits.h"
#include "platform/ElidedLabel.h"
#include "restore/CPW.h"
#include "restore/CProps.h"
#include "support/DesktopFixture.h"
#include "support/PeerTools.h"
#include "support/ScopedTmpdir.h"
#include "support/ScriptedPrompt.h"
#include "support/SpannedBackup.h"

namespace corvane {
namespace {

using test::RestoreTest;

TEST_F(RestoreTest, CancelDuringTheScanStopsItAndTheNextOneCloses) {
    Stream("L 0812251430 0.cvn", "\\");
    Stream("L 0812251430 1.cvn", "\\A");
    Stream("L 0812251430 2.cvn", "\\B");
    gate = std::make_unique<test::GatedFileSystem>(" 1.cvn");
    Open({}, gate.get(), false);
    window->show();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Item({"L", "08-12-25 14:30", "ROOT"}) != nullptr;
        },
        60000));
    EXPECT_TRUE(Tree().showLoadingCursor());

    window->reject();
    EXPECT_TRUE(window->isVisible()) << "the first Cancel only stops the scan";
    gate->Release();
    WaitForScan();
    EXPECT_EQ(Outline(), "L\n  08-12-25 14:30\n    A\n    ROOT\n")
        << "the stream being read is kept, none is started after it";
    EXPECT_FALSE(Tree().showLoadingCursor());

    window->reject();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(RestoreTest, FolderWithoutStreamsGivesAnEmptyTreeAndCancelCloses) {
    disc.WriteFile("readme.txt", "not a stream");
    Open();
    window->show();
    EXPECT_EQ(Tree().topLevelItemCount(), 0);
    ASSERT_EQ(scanWarnings.Texts(), std::vector<std::string>{"Not everything on the discs could be read:\n\n" +
                                                             disc.path() + " was skipped: it holds no backup streams (*.cvn files)"});
    window->reject();
    EXPECT_FALSE(window->isVisible());
}

// The window given a folder of disc images reads the images in it; one that is no image is
// named when the scan ends.
TEST_F(RestoreTest, AFolderOfDiscImagesShowsTheBackupsInThemAndNamesWhatIsNoImage) {
    Stream("L 0812251430 0.cvn", "\\", {{"a.txt", "a"}});
    Stream("L 0812251430 1.cvn", "\\Docs", {{"d.txt", "d"}});
    test::ScratchFolder images;
    test::MakeImageWithXorriso(disc.path(), images / "L disc 01.iso");
    const std::string notAnImage = images.WriteFile("L disc 02.iso", "no volume here");
    ImageFileSystem files(DefaultFileSystem());
    Open({images.path()}, &files);
    EXPECT_EQ(Outline(), "L\n  08-12-25 14:30\n    Docs\n    ROOT\n");
    ASSERT_EQ(scanWarnings.Texts().size(), 1u);
    EXPECT_NE(scanWarnings.Texts()[0].find(notAnImage + " was skipped: it is not a disc image"), std::string::npos)
        << scanWarnings.Texts()[0];
    window.reset();  // before the file system it reads
}

TEST_F(RestoreTest, ResizingKeepsTheTreeBesideThePictureAndTheNoticeAtTheBottom) {
    Open();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (QSize size : {QSize(700, 500), QSize(420, 380)}) {
        window->resize(size);
        QTRY_COMPARE(window->size(), size);
        EXPECT_EQ(FindControl(window.get(), 1001)->geometry(),
                  QRect(122, 0, size.width() - 122, size.height()));
        EXPECT_EQ(FindControl(window.get(), 1022)->geometry(), QRect(119, 0, 2, size.height()));
        EXPECT_EQ(FindControl(window.get(), 1021)->geometry(),
                  QRect(2, size.height() - 30, 116, 30));
    }
}

TEST_F(RestoreTest, TemporaryCopiesGoWithTheWindow) {
    const std::string copy = disc.WriteFile("copy.txt", "opened earlier");
    Open();
    window->tempFiles = {copy, disc / "gone already.txt"};
    window.reset();
    EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST_F(RestoreTest, PropertiesShowTheNameInBlueAndBothTimes) {
    CItemData file;
    file.kind = kFileItem;
    file.name = "report.txt";
    file.created = 1230215400;   // 2008-12-25 14:30 UTC
    file.modified = 1230256800;  // 2008-12-26 02:00 UTC
    CProps props(&file);
    auto* name = qobject_cast<QLabel*>(FindControl(&props, 1020));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "report.txt");
    EXPECT_EQ(name->font().pixelSize(), app.dialogFont.pixelSize()) << "the application's font";
    EXPECT_EQ(name->palette().color(QPalette::WindowText), QColor(10, 10, 192));
    EXPECT_EQ(qobject_cast<QLabel*>(FindControl(&props, 1018))->text(), "Thu Dec 25, 2008  0230PM");
    EXPECT_EQ(qobject_cast<QLabel*>(FindControl(&props, 1019))->text(), "Fri Dec 26, 2008  0200AM");

    CProps empty(nullptr);
    EXPECT_EQ(qobject_cast<QLabel*>(FindControl(&empty, 1020))->text(), "name");
    EXPECT_EQ(qobject_cast<QLabel*>(FindControl(&empty, 1018))->text(), "0");
}

}  // namespace
}  // namespace corvane

namespace corvane::test {
namespace {

// Restore... from a backup item: a protected folder below it is restored only with its
// password; refused, it is left out and named, and everything else is restored.
// Answers the modal dialogs of a restore: each password prompt with the next of passwords
// (Cancel once none is left), and the Restore dialog with the destination, closing it when done.
class RestoreDriver {
  public:
    RestoreDriver(std::deque<QString> toType, std::string destination)
        : passwords(std::move(toType)), destination_(std::move(destination)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start(5);
    }
    std::deque<QString> passwords;  // not typed yet
    std::vector<std::string> endStatuses;  // each Restore dialog's status line when its run ended

  private:
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* prompt = qobject_cast<CPW*>(modal)) {
            if (passwords.empty()) return prompt->reject();
            prompt->findChild<QLineEdit*>()->setText(passwords.front());
            passwords.pop_front();
            return prompt->accept();
        }
        auto* dialog = qobject_cast<CExtract*>(modal);
        if (!dialog) return;
        if (dialog != dialog_) {  // a restore may run one dialog per disc
            dialog_ = dialog;
            started_ = false;
        }
        if (!started_) {
            qobject_cast<QLineEdit*>(FindControl(dialog, 1013))->setText(QString::fromStdString(destination_));
            qobject_cast<QPushButton*>(FindControl(dialog, 1))->click();
            started_ = true;
        } else if (dialog->idle) {
            endStatuses.push_back(qobject_cast<ElidedLabel*>(FindControl(dialog, 1017))->FullText().toStdString());
            qobject_cast<QPushButton*>(FindControl(dialog, 2))->click();
        }
    }

    std::string destination_;
    QPointer<QObject> dialog_;  // null once that dialog is gone
    bool started_ = false;
    QTimer timer_;
};

TEST_F(RestoreTest, ProtectedFoldersNeedTheirPasswordToBeRestoredThroughTheirParent) {
    for (bool typePassword : {false, true}) {
        ScratchFolder destination;
        Stream("DATA 0812251430 0.cvn", "\\", {{"open.txt", "open"}});
        Stream("DATA 0812251430 1.cvn", "\\Secret", {{"secret.txt", "secret"}}, "pw");
        ScriptedPrompt messages;
        Open();
        window->tree->setCurrentItem(Item({"DATA", "08-12-25 14:30"}));

        RestoreDriver driver(typePassword ? std::deque<QString>{"pw"} : std::deque<QString>{}, destination.path());
        window->OnRestore();

        if (typePassword) {
            EXPECT_EQ(ReadWholeFile(destination / "open.txt"), "open");
            EXPECT_EQ(ReadWholeFile(destination / "Secret/secret.txt"), "secret");
            EXPECT_TRUE(messages.messages.empty());
        } else {
            EXPECT_EQ(ReadWholeFile(destination / "open.txt"), "open");
            EXPECT_FALSE(std::filesystem::exists(destination / "Secret"));
            ASSERT_EQ(messages.messages.size(), 1u);
            EXPECT_EQ(messages.messages[0].text,
                      "Protected folders are left out without their password:\n<protected>")
                << "named as the tree shows it, never by its real name";
        }
        window.reset();
        std::filesystem::remove_all(disc.path() + "/DATA 0812251430 0.cvn");
        std::filesystem::remove_all(disc.path() + "/DATA 0812251430 1.cvn");
    }
}

// With only the last disc present, every folder of the backup shows, those on other discs
// marked; restoring one asks for its disc, Retry looks again in the places, and once the
// disc's image is among them the folder comes back byte-identical.
TEST_F(RestoreTest, FoldersOnOtherDiscsShowAndRestoringOneAsksForItsDisc) {
    const SpannedBackup backup;
    const std::string imageName = std::filesystem::path(backup.images[2]).filename().string();
    const std::string backupName = imageName.substr(0, imageName.find(" disc "));
    struct Case {
        std::vector<bool> addDiscBeforeAnswer;  // one per question, answered Retry; Cancel after them
        int questions;
        bool restored;
    };
    for (const Case& c : std::vector<Case>{{{}, 1, false}, {{false, true}, 2, true}}) {
        ScratchFolder place, destination;
        backup.PlaceWith(place, {3});
        ScriptedPrompt messages;
        std::size_t asked = 0;
        messages.answer = [&](const Message& message) {
            if (message.buttons != MessageButtons::RetryCancel) return MessageAnswer::Ok;
            if (asked == c.addDiscBeforeAnswer.size()) return MessageAnswer::Cancel;
            if (c.addDiscBeforeAnswer[asked++]) backup.PlaceWith(place, {2});
            return MessageAnswer::Retry;
        };
        ImageFileSystem images(DefaultFileSystem());
        Open({place.path()}, &images);
        ASSERT_EQ(Tree().topLevelItemCount(), 1);
        QTreeWidgetItem* backupItem = Tree().topLevelItem(0)->child(0);
        EXPECT_EQ(ChildTexts(backupItem),
                  (std::vector<std::string>{"Docs (on disc 1)", "Music (on disc 2)", "ROOT (on disc 1)", "Video"}));
        EXPECT_EQ(ChildTexts(backupItem->child(0)), (std::vector<std::string>{"2008 (on disc 1)", "r.txt"}));

        window->tree->setCurrentItem(backupItem->child(1));
        RestoreDriver driver({}, destination.path());
        window->OnRestore();

        std::vector<std::string> questions;
        for (const Message& message : messages.messages)
            if (message.buttons == MessageButtons::RetryCancel) questions.push_back(message.text);
        EXPECT_EQ(questions, std::vector<std::string>(static_cast<std::size_t>(c.questions),
                                                      "Please insert disc 2 of " + backupName));
        if (c.restored)
            EXPECT_EQ(ReadWholeFile(destination / "Music/m.bin"), backup.files.at("Music/m.bin"));
        else
            EXPECT_FALSE(std::filesystem::exists(destination / "Music"));
        window.reset();
    }
}

// Without the last disc, nothing in the tree can show it: the scan's warning names it.
TEST_F(RestoreTest, AMissingLastDiscIsNamedWhenTheScanEnds) {
    const SpannedBackup backup;
    const std::string imageName = std::filesystem::path(backup.images[2]).filename().string();
    const std::string backupName = imageName.substr(0, imageName.find(" disc "));
    ScratchFolder place;
    backup.PlaceWith(place, {1, 2});
    ImageFileSystem images(DefaultFileSystem());
    Open({place.path()}, &images);
    ASSERT_EQ(scanWarnings.Texts().size(), 1u);
    EXPECT_NE(scanWarnings.Texts()[0].find("disc 3 of " + backupName +
                                           " is not among the places given: the backup goes on after disc 2"),
              std::string::npos)
        << scanWarnings.Texts()[0];
}

// A file whose content does not match the catalogue's checksum (two chunks swapped: every
// chunk decodes) is named after "Done!" and not kept; the rest comes back.
TEST_F(RestoreTest, AFileWhoseContentDoesNotMatchTheCatalogueIsNamedAndNotKept) {
    const SpannedBackup backup;
    ScratchFolder place, destination;
    backup.PlaceWith(place, {1, 2, 3});
    backup.SwapFirstChunksOfVideo(place);
    ScriptedPrompt messages;
    ImageFileSystem images(DefaultFileSystem());
    Open({place.path()}, &images);
    window->tree->setCurrentItem(Tree().topLevelItem(0)->child(0));
    RestoreDriver driver({}, destination.path());
    window->OnRestore();

    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_NE(messages.Texts()[0].find("Video\\v.bin: its content does not match the checksum the backup recorded"),
              std::string::npos)
        << messages.Texts()[0];
    EXPECT_FALSE(std::filesystem::exists(destination / "Video/v.bin"));
    EXPECT_EQ(ReadWholeFile(destination / "Music/m.bin"), backup.files.at("Music/m.bin"));
    window.reset();
}

// One drive: restoring the whole backup with the last disc in it restores that disc, then asks
// for each other disc in turn, and restores each once it is the one in the drive.
TEST_F(RestoreTest, AWholeBackupComesBackOneDiscAtATime) {
    const SpannedBackup backup;
    ScratchFolder drive, destination;
    backup.PlaceWith(drive, {3});
    ScriptedPrompt messages;
    std::vector<std::string> questions;
    messages.answer = [&](const Message& message) {
        if (message.buttons != MessageButtons::RetryCancel) return MessageAnswer::Ok;
        questions.push_back(message.text);
        const int asked = message.text[std::string("Please insert disc ").size()] - '0';
        for (const auto& entry : std::filesystem::directory_iterator(drive.path())) std::filesystem::remove(entry);
        backup.PlaceWith(drive, {asked});
        return MessageAnswer::Retry;
    };
    ImageFileSystem images(DefaultFileSystem());
    Open({drive.path()}, &images);
    window->tree->setCurrentItem(Tree().topLevelItem(0)->child(0));
    RestoreDriver driver({}, destination.path());
    window->OnRestore();

    ASSERT_EQ(questions.size(), 2u);
    EXPECT_NE(questions[0].find("Please insert disc 1 of "), std::string::npos) << questions[0];
    EXPECT_NE(questions[1].find("Please insert disc 2 of "), std::string::npos) << questions[1];
    for (const auto& [path, content] : backup.files) EXPECT_EQ(ReadWholeFile(destination / path), content) << path;
    window.reset();
}

// Restoring the whole backup with discs missing says first what is not present, no dialog
// ends in "Done!" while discs follow, and the restore ends with the count of files restored
// and each file not restored: with disc 3 of 3 in the one drive, disc 1 put in when asked and
// the question for disc 2 cancelled; with discs 1 and 2 only, the missing last disc.
TEST_F(RestoreTest, ARestoreWithDiscsMissingSaysSoFirstAndEndsWithWhatCameBack) {
    const SpannedBackup backup;
    const std::string imageName = std::filesystem::path(backup.images[2]).filename().string();
    const std::string name = imageName.substr(0, imageName.find(" disc "));
    const std::string lastDisc = "disc 3 of " + name + " is not among the places given: the backup goes on after disc 2";
    struct Case {
        std::vector<int> present;
        std::vector<std::string> messages;
        std::vector<std::string> endStatuses;
        std::string notRestored;
    };
    for (const Case& c : std::vector<Case>{
             {{3},
              {"Part of this is on discs that are not present:\ndisc 1 of " + name + "\ndisc 2 of " + name +
                   "\n\nWhat is present is restored first; then each of these discs is asked for.",
               "Please insert disc 1 of " + name, "Please insert disc 2 of " + name,
               "4 files restored.\n\nNot restored:\nMusic\\m.bin is on disc 2, which was not given"},
              std::vector<std::string>(2, "This disc is done; another follows"),
              "Music/m.bin"},
             {{1, 2},
              {"What is present is restored.\n\nMore of it may be on a disc that is not present: " + lastDisc + ".",
               "4 files restored.\n\nNot restored:\n" + lastDisc},
              {"Done!"},
              "Video/v.bin"}}) {
        SCOPED_TRACE(c.present.size());
        ScratchFolder drive, destination;
        backup.PlaceWith(drive, c.present);
        ImageFileSystem images(DefaultFileSystem());
        Open({drive.path()}, &images);
        ScriptedPrompt messages;  // after the scan's warning of what is missing
        std::vector<bool> emptyWhenAsked;  // whether the destination was empty at each message
        messages.answer = [&](const Message& message) {
            emptyWhenAsked.push_back(std::filesystem::is_empty(destination.path()));
            if (message.buttons != MessageButtons::RetryCancel) return MessageAnswer::Ok;
            if (message.text != "Please insert disc 1 of " + name) return MessageAnswer::Cancel;
            for (const auto& entry : std::filesystem::directory_iterator(drive.path())) std::filesystem::remove(entry);
            backup.PlaceWith(drive, {1});
            return MessageAnswer::Retry;
        };
        window->tree->setCurrentItem(Tree().topLevelItem(0)->child(0));
        RestoreDriver driver({}, destination.path());
        window->OnRestore();

        EXPECT_EQ(messages.Texts(), c.messages);
        ASSERT_FALSE(emptyWhenAsked.empty());
        EXPECT_TRUE(emptyWhenAsked.front()) << "told before anything is restored";
        EXPECT_EQ(messages.messages.back().icon, MessageIcon::Warning);
        EXPECT_EQ(driver.endStatuses, c.endStatuses);
        for (const auto& [path, content] : backup.files) {
            if (path == c.notRestored) continue;
            EXPECT_EQ(ReadWholeFile(destination / path), content) << path;
        }
        EXPECT_FALSE(std::filesystem::exists(destination / c.notRestored));
        window.reset();
    }
}

// The Restore dialog closed before it ran ends the restore: no disc is asked for after it.
TEST_F(RestoreTest, ARestoreDialogClosedUnrunEndsARestoreOverDiscs) {
    const SpannedBackup backup;
    ScratchFolder drive;
    backup.PlaceWith(drive, {3});
    ImageFileSystem images(DefaultFileSystem());
    Open({drive.path()}, &images);
    ScriptedPrompt messages;  // after the scan's warning of what is missing
    int dialogs = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<CExtract*>(QApplication::activeModalWidget())) {
            ++dialogs;
            dialog->close();
        }
    });
    closer.start(5);
    window->tree->setCurrentItem(Tree().topLevelItem(0)->child(0));
    window->OnRestore();

    EXPECT_EQ(dialogs, 1);
    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_TRUE(messages.Texts()[0].starts_with("Part of this is on discs that are not present:")) << messages.Texts()[0];
    window.reset();
}

// An encrypted backup shows only "<protected>" folders until its password passes the key
// check in the password dialog; its folders then take their real places and names, and it
// restores through the Restore dialog.
TEST_F(RestoreTest, AnEncryptedBackupOpensWithItsPasswordAndRestores) {
    {
        JobRig rig;
        rig.host.sourceSelection = SourceChoice{rig.source.path(), std::string("Vault")};
        rig.host.password = "Kestrel7";
        rig.host.encrypt = true;
        rig.source.WriteFile("Docs/d.txt", "dee");
        rig.source.WriteFile("top.txt", "tee");
        ASSERT_EQ(rig.Run(), BackupOutcome::Completed);
        for (const auto& file : rig.master->recordedDiscs().at(0).files)
            if (file.name.ends_with(".cvn")) disc.WriteFile(file.name, file.bytes);
    }
    ScriptedPrompt messages;
    Open();
    QTreeWidgetItem* backup = Item({"Vault"})->child(0);
    ASSERT_EQ(backup->childCount(), 2);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(backup->child(i)->text(0), "<protected>");

    ScratchFolder destination;
    RestoreDriver driver({QStringLiteral("Kestrel8"), QStringLiteral("Kestrel7")}, destination.path());
    Tree().expandItem(backup->child(0));
    EXPECT_TRUE(driver.passwords.empty());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Invalid Password"});
    backup = Item({"Vault"})->child(0);
    ASSERT_EQ(backup->childCount(), 2) << Outline();
    EXPECT_EQ(backup->child(0)->text(0), "Docs");
    EXPECT_EQ(backup->child(1)->text(0), "ROOT");
    EXPECT_EQ(ChildTexts(Expand({"Vault", backup->text(0), "Docs"})), std::vector<std::string>{"d.txt"});

    window->tree->setCurrentItem(backup);
    window->OnRestore();
    EXPECT_EQ(ReadWholeFile(destination / "top.txt"), "tee");
    EXPECT_EQ(ReadWholeFile(destination / "Docs/d.txt"), "dee");
    EXPECT_EQ(messages.Texts().size(), 1u);
}

}  // namespace
}  // namespace corvane::test

namespace corvane::test {
namespace {

// "Open" on a file item: the desktop's application for its type gets a readable copy from the
// window's private folder; the copy goes with the window. A folder item opens nothing.
TEST_F(RestoreTest, OpenHandsAPrivateCopyToTheApplicationAndTheCopyGoesWithTheWindow) {
    DesktopFixture desktop;
    const std::string received = desktop.folder / "received";
    desktop.AddScript("viewer.sh", "cat -- \"$1\" > \"" + received + ".part\"; mv \"" + received + ".part\" \"" +
                                       received + "\"");
    desktop.AddApp("viewer.desktop", "Name=viewer\nMimeType=text/plain;\nExec=" + desktop.folder / "viewer.sh" + " %f");
    desktop.Write(DesktopFixture::Place::UserConfig, "mimeapps.list", "[Default Applications]\ntext/plain=viewer.desktop\n");
    Stream("DATA 0812251430 0.cvn", "\\Docs", {{"notes.txt", "the notes"}});
    ScopedTmpdir tmp;
    Open();

    window->OpenItem(Item({"DATA", "08-12-25 14:30", "Docs"}), false);
    EXPECT_TRUE(window->tempFiles.empty()) << "a folder item opens nothing";
    Expand({"DATA", "08-12-25 14:30", "Docs"});
    window->OpenItem(Item({"DATA", "08-12-25 14:30", "Docs", "notes.txt"}), false);
    ASSERT_EQ(window->tempFiles.size(), 1u);
    const std::string copy = window->tempFiles[0];
    EXPECT_EQ(copy.rfind(window->tempFolder.path() + "/", 0), 0u);
    EXPECT_EQ(copy.rfind(tmp.path() + "/", 0), 0u) << "under TMPDIR";
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(received); }, 20000));
    EXPECT_EQ(ReadWholeFile(received), "the notes");
    window.reset();
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(FolderNames(tmp.path()), std::vector<std::string>{}) << "the private folder goes too";
}

}  // namespace
}  // namespace corvane::test
