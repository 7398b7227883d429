// The real "Restore" dialog and overwrite prompt under the offscreen platform: the answers a
// user clicks decide what is replaced.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "extract/CExtract.h"
#include "extract/COverwrite.h"
#include "platform/DialogUnits.h"
#include "platform/ElidedLabel.h"
#include "TreeListing.h"
#include "support/ScratchFolder.h"
#include "support/ScriptedPrompt.h"
#include "support/StreamTestUtil.h"

namespace corvane {
namespace {

// Clicks through every overwrite prompt that opens, answering from a list (then Cancel).
class PromptClicker {
public:
    explicit PromptClicker(std::vector<OverwriteAnswer> answers) : answers_(std::move(answers)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
        timer_.start(5);
    }
    int shown = 0;

private:
    void Answer() {
        auto* prompt = qobject_cast<COverwrite*>(QApplication::activeModalWidget());
        if (!prompt) return;
        OverwriteAnswer answer = shown < static_cast<int>(answers_.size()) ? answers_[static_cast<std::size_t>(shown)]
                                                                          : OverwriteAnswer::Cancel;
        ++shown;
        const bool all = answer == OverwriteAnswer::YesToAll || answer == OverwriteAnswer::NoToAll;
        qobject_cast<QCheckBox*>(FindControl(prompt, 1023))->setChecked(all);
        int button = answer == OverwriteAnswer::Cancel                                     ? 2
                     : answer == OverwriteAnswer::Yes || answer == OverwriteAnswer::YesToAll ? 1
                                                                                            : 3;
        qobject_cast<QPushButton*>(FindControl(prompt, button))->click();
    }

    std::vector<OverwriteAnswer> answers_;
    QTimer timer_;
};

struct DialogRig {
    test::ScratchFolder backup, destination;
    std::vector<std::string> streamPaths;
    std::vector<std::uint64_t> recordOffsets;
    std::vector<std::string> itemNames;
    std::string lastDestination;
    test::ScriptedPrompt messages;

    // One folder stream \Docs with a, b, c, all already present (as "old") in the destination.
    void FolderWithExistingTargets() {
        std::string stream = backup / "DATA 0812251430 0.cvn";
        EXPECT_TRUE(test::WriteSampleStream(stream, "\\Docs", "", {{"a", "new a"}, {"b", "new b"}, {"c", "new c"}}).ok());
        for (const char* name : {"a", "b", "c"}) destination.WriteFile(std::string("Docs/") + name, "old");
        streamPaths = {stream};
        recordOffsets = {0};
        itemNames = {"Docs"};
    }

    std::string Run(CExtract& dialog) {
        dialog.show();
        qobject_cast<QLineEdit*>(FindControl(&dialog, 1013))->setText(QString::fromStdString(destination.path()));
        qobject_cast<QPushButton*>(FindControl(&dialog, 1))->click();
        for (int i = 0; i < 6000 && !dialog.idle; ++i) QTest::qWait(5);
        EXPECT_TRUE(dialog.idle);
        return qobject_cast<ElidedLabel*>(FindControl(&dialog, 1017))->FullText().toStdString();
    }

    std::string Contents() const {
        std::string all;
        for (const char* name : {"a", "b", "c"}) all += test::ReadWholeFile(destination / (std::string("Docs/") + name)) + ";";
        return all;
    }
};

using A = OverwriteAnswer;

TEST(ExtractDialog, OverwriteAnswersForAFolderStream) {
    struct Case {
        const char* what;
        std::vector<A> clicks;
        int prompts;
        const char* contents;
    } cases[] = {
        {"No asks again", {A::No, A::Yes, A::No}, 3, "old;new b;old;"},
        {"Yes asks again", {A::Yes, A::Yes, A::Yes}, 3, "new a;new b;new c;"},
        {"No to all skips the rest", {A::Yes, A::NoToAll}, 2, "new a;old;old;"},
        {"Yes to all replaces the rest", {A::No, A::YesToAll}, 2, "old;new b;new c;"},
        {"Cancel stops the run", {A::Yes, A::Cancel}, 2, "new a;old;old;"},
    };
    for (const auto& c : cases) {
        DialogRig rig;
        rig.FolderWithExistingTargets();
        CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, &rig.lastDestination);
        PromptClicker clicker(c.clicks);
        EXPECT_EQ(rig.Run(dialog), "Done!") << c.what;
        EXPECT_EQ(clicker.shown, c.prompts) << c.what;
        EXPECT_EQ(rig.Contents(), c.contents) << c.what;
        EXPECT_EQ(rig.lastDestination, rig.destination.path()) << c.what;
    }
}

TEST(ExtractDialog, OverwriteAnswersForASingleFile) {
    struct Case {
        A click;
        const char* content;
    } cases[] = {{A::Yes, "new b"}, {A::YesToAll, "new b"}, {A::No, "old"}, {A::NoToAll, "old"}, {A::Cancel, "old"}};
    for (const auto& c : cases) {
        DialogRig rig;
        rig.FolderWithExistingTargets();
        test::ReadBack back;
        ASSERT_TRUE(test::ReadSampleStream(rig.streamPaths[0], back).ok());
        rig.destination.WriteFile("b", "old");
        rig.recordOffsets = {back.records[1].recordOffset};
        rig.itemNames = {"b"};
        CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, nullptr);
        PromptClicker clicker({c.click});
        rig.Run(dialog);
        EXPECT_EQ(clicker.shown, 1);
        EXPECT_EQ(test::ReadWholeFile(rig.destination / "b"), c.content) << static_cast<int>(c.click);
        EXPECT_EQ(dialog.cancelRequested.load() != 0, c.click != A::Yes && c.click != A::YesToAll)
            << "any answer but Yes ends the run";
    }
}

TEST(ExtractDialog, CancelClosesOnlyWhenIdleAndEmptyRunsEndDone) {
    DialogRig rig;
    CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, &rig.lastDestination);
    EXPECT_EQ(rig.Run(dialog), "Done!") << "an empty list ends at once";
    EXPECT_TRUE(dialog.isVisible());
    qobject_cast<QPushButton*>(FindControl(&dialog, 2))->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// However many entries the run has, folder streams or single files.
TEST(ExtractDialog, EmptyDestinationIsReportedOnce) {
    DialogRig rig;
    rig.FolderWithExistingTargets();
    test::ReadBack back;
    ASSERT_TRUE(test::ReadSampleStream(rig.streamPaths[0], back).ok());
    rig.streamPaths = {rig.streamPaths[0], rig.streamPaths[0], rig.streamPaths[0]};
    rig.recordOffsets = {0, 0, back.records[1].recordOffset};
    rig.itemNames = {"Docs", "Docs", "b"};
    rig.lastDestination = "/earlier";
    for (const char* typed : {"", "  "}) {
        SCOPED_TRACE(std::string("typed \"") + typed + "\"");
        rig.messages.messages.clear();
        CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, &rig.lastDestination);
        dialog.show();
        qobject_cast<QLineEdit*>(FindControl(&dialog, 1013))->setText(QString::fromUtf8(typed));
        qobject_cast<QPushButton*>(FindControl(&dialog, 1))->click();
        for (int i = 0; i < 6000 && !dialog.idle; ++i) QTest::qWait(5);
        EXPECT_EQ(rig.messages.Texts(), std::vector<std::string>{"You must select a destination folder."});
        EXPECT_EQ(qobject_cast<ElidedLabel*>(FindControl(&dialog, 1017))->FullText(), "Done!");
        EXPECT_EQ(rig.lastDestination, "") << "what was read is remembered";
    }
    EXPECT_EQ(rig.Contents(), "old;old;old;");
}

// The "to all" answer holds for every folder stream of the run, not only the one it was given in.
TEST(ExtractDialog, ToAllAnswersHoldForTheWholeRun) {
    for (A click : {A::YesToAll, A::NoToAll}) {
        SCOPED_TRACE(static_cast<int>(click));
        DialogRig rig;
        rig.FolderWithExistingTargets();
        const std::string second = rig.backup / "DATA 0812251430 1.cvn";
        ASSERT_TRUE(test::WriteSampleStream(second, "\\More", "", {{"d", "new d"}}).ok());
        rig.destination.WriteFile("More/d", "old");
        rig.streamPaths.push_back(second);
        rig.recordOffsets.push_back(0);
        rig.itemNames.push_back("More");
        CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, nullptr);
        PromptClicker clicker({click});
        rig.Run(dialog);
        EXPECT_EQ(clicker.shown, 1);
        EXPECT_EQ(rig.Contents(), click == A::YesToAll ? "new a;new b;new c;" : "old;old;old;");
        EXPECT_EQ(test::ReadWholeFile(rig.destination / "More/d"), click == A::YesToAll ? "new d" : "old");
    }
}

TEST(ExtractDialog, OpensWithTheLastDestination) {
    DialogRig rig;
    rig.lastDestination = "/media/backup target";
    CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, &rig.lastDestination);
    EXPECT_EQ(qobject_cast<QLineEdit*>(FindControl(&dialog, 1013))->text(), "/media/backup target");
}

// Sets an environment variable until it goes away.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* previous = std::getenv(name)) saved_ = previous;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() { saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(ExtractDialog, TildeIsTheHomeFolderAndARelativePathIsRefused) {
    DialogRig rig;
    rig.FolderWithExistingTargets();
    test::ScratchFolder home, current;
    ScopedVariable homeVariable("HOME", home.path());
    const std::string previousFolder = std::filesystem::current_path();
    std::filesystem::current_path(current.path());
    for (const char* typed : {"~", "~/restored", "restored", "~user/x"}) {
        SCOPED_TRACE(typed);
        CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, &rig.lastDestination);
        dialog.show();
        qobject_cast<QLineEdit*>(FindControl(&dialog, 1013))->setText(QString::fromUtf8(typed));
        qobject_cast<QPushButton*>(FindControl(&dialog, 1))->click();
        for (int i = 0; i < 6000 && !dialog.idle; ++i) QTest::qWait(5);
        EXPECT_EQ(qobject_cast<ElidedLabel*>(FindControl(&dialog, 1017))->FullText(), "Done!");
    }
    std::filesystem::current_path(previousFolder);
    EXPECT_EQ(test::TreeListing(home.path()), (std::set<std::string>{"Docs", "Docs/a", "Docs/b", "Docs/c", "restored",
                                                                     "restored/Docs", "restored/Docs/a",
                                                                     "restored/Docs/b", "restored/Docs/c"}));
    EXPECT_EQ(test::TreeListing(current.path()), std::set<std::string>{}) << "nothing under the invisible current folder";
    // The relative ones were refused, each with one message.
    ASSERT_EQ(rig.messages.messages.size(), 2u);
    for (const auto& [message, typed] : {std::pair{rig.messages.messages[0], "\nrestored"}, {rig.messages.messages[1], "\n~user/x"}}) {
        EXPECT_NE(message.text.find("must be a full path"), std::string::npos) << message.text;
        EXPECT_TRUE(message.text.ends_with(typed)) << message.text;
    }
}

TEST(ExtractDialog, NamesWhatWasNotRestoredOrRenamedAfterDone) {
    DialogRig rig;
    test::SampleFile bad{"bad", test::SampleBytes(3 * 4096, 2)};
    bad.damagedChunk = 1;
    const std::string stream = rig.backup / "DATA 0812251430 0.cvn";
    ASSERT_TRUE(test::WriteSampleStream(stream, "\\Docs", "", {bad, {"a\x9D" "b", "x"}, {"good", "y"}}).ok());
    rig.streamPaths = {stream};
    rig.recordOffsets = {0};
    rig.itemNames = {"Docs"};
    CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, nullptr);
    EXPECT_EQ(rig.Run(dialog), "Done!");
    EXPECT_EQ(rig.messages.Texts(),
              std::vector<std::string>{"Not restored:\nDocs\\bad: There was an error extracting the file!\n\n"
                                       "Restored under another name, because the destination cannot hold the stored one or another restored file has it:\n"
                                       "Docs\\a?b as " + rig.destination.path() + "/Docs/a_b"});
    EXPECT_EQ(rig.messages.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(test::TreeListing(rig.destination.path()), (std::set<std::string>{"Docs", "Docs/a_b", "Docs/good"}));
}

TEST(ExtractDialog, TheFolderPickerStoresNothing) {
    test::ScratchFolder home, config;
    ScopedVariable homeVariable("HOME", home.path());
    ScopedVariable configVariable("XDG_CONFIG_HOME", config.path());
    DialogRig rig;
    CExtract dialog(rig.streamPaths, rig.recordOffsets, rig.itemNames, nullptr);
    dialog.show();
    int closed = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            picker->reject();
            ++closed;
        }
    });
    closer.start(5);
    qobject_cast<QPushButton*>(FindControl(&dialog, 1015))->click();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(test::TreeListing(config.path()), std::set<std::string>{});
    EXPECT_EQ(test::TreeListing(home.path()), std::set<std::string>{});
}

// A path much wider than the prompt shows on one line, shortened in the middle: its file name
// stays in view, and the whole path is the tool tip.
TEST(OverwritePrompt, ALongPathKeepsItsFileNameInView) {
    std::string path = "/media/user";
    for (int i = 0; i < 12; ++i) path += "/folder-with-a-long-name-" + std::to_string(i);
    path += "/the-report.txt";
    COverwrite prompt;
    QString shown, tip;
    int shownWidth = 0, room = 0;
    QTimer::singleShot(10, [&] {
        auto* label = qobject_cast<QLabel*>(FindControl(&prompt, 1020));
        shown = label->text();
        tip = label->toolTip();
        shownWidth = label->fontMetrics().horizontalAdvance(shown);
        room = label->width();
        prompt.close();
    });
    prompt.Ask(path);
    EXPECT_TRUE(shown.startsWith("/media/")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("/the-report.txt")) << shown.toStdString();
    EXPECT_LE(shownWidth, room);
    EXPECT_EQ(tip.toStdString(), path);
}

TEST(OverwritePrompt, EveryWayOutSetsTheAnswer) {
    COverwrite prompt;
    QTimer::singleShot(10, [&] { QTest::keyClick(&prompt, Qt::Key_Escape); });
    EXPECT_EQ(prompt.Ask("/x/y"), A::Cancel);
    QTimer::singleShot(10, [&] {
        qobject_cast<QCheckBox*>(FindControl(&prompt, 1023))->setChecked(true);
        QTest::keyClick(&prompt, Qt::Key_Return);
    });
    EXPECT_EQ(prompt.Ask("/x/y"), A::YesToAll);
    QTimer::singleShot(10, [&] { QTest::keyClick(&prompt, Qt::Key_Return); });
    EXPECT_EQ(prompt.Ask("/x/y"), A::Yes) << "the box is clear again at every showing";
    QTimer::singleShot(10, [&] { prompt.close(); });
    EXPECT_EQ(prompt.Ask("/x/y"), A::Cancel);
}

}  // namespace
}  // namespace corvane
