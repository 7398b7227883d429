// "Open" and "Open With..." of a backed-up file: copies extracted from real streams into a
// private folder and handed to real processes started from desktop entries of the test's own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

#include "extract/COpenWith.h"
#include "extract/OpenFile.h"
#include "platform/DialogUnits.h"
#include "platform/Prompt.h"
#include "support/DesktopFixture.h"
#include "support/ScriptedPrompt.h"
#include "support/StreamTestUtil.h"

namespace corvane {
namespace {

using test::DesktopFixture;
using Place = DesktopFixture::Place;

constexpr const char* kExtractError = "There was an error extracting the file!";

std::string FirstParagraph(const std::string& text) { return text.substr(0, text.find("\n\n")); }

// A backup stream with a good file, one with a chunk that will not decode and one of a type
// no application opens; a desktop whose handlers are shell scripts that record what they get.
struct OpenRig {
    DesktopFixture desktop;
    test::ScratchFolder backup;
    test::ScriptedPrompt messages;
    PrivateTempFolder temp;
    std::string stream = backup / "DATA 0812251430 0.cvn";
    std::string notes = test::SampleBytes(10000, 1);  // three chunks
    TellUser tell = [](const Message& message) { Ask(nullptr, message); };
    int chooserCalls = 0;

    OpenRig() {
        EXPECT_TRUE(
            test::WriteSampleStream(
                stream, "\\Docs", "",
                {{.name = "notes 1.txt", .content = notes},
                 {.name = "bad.txt", .content = test::SampleBytes(10000, 2), .damagedChunk = 1},
                 {.name = "blob.bin", .content = std::string("\x7f\x01\x02\x03\xff", 5)}})
                .ok());
        desktop.folder.MakeFolder("received");
        // Records the path it was given (last, so the bytes are there when it shows) and the
        // bytes it could read from it.
        desktop.AddScript("handler.sh", "out=\"" + desktop.folder / "received" +
                                            "/$1\"\n"
                                            "[ -f \"$2\" ] && cat -- \"$2\" > \"$out.bytes\"\n"
                                            "printf '%s' \"$2\" > \"$out.part\"\n"
                                            "mv -- \"$out.part\" \"$out\"");
        AddHandler("viewer", "text/plain;");
        AddHandler("second", "text/plain;");
        AddHandler("files", "inode/directory;");
        desktop.Write(Place::UserConfig, "mimeapps.list",
                      "[Default Applications]\ntext/plain=viewer.desktop\n");
    }

    void AddHandler(const std::string& label, const std::string& types,
                    const std::string& exec = "") const {
        desktop.AddApp(
            label + ".desktop",
            "Name=" + label + "\nMimeType=" + types + "\nExec=" +
                (exec.empty() ? desktop.folder / "handler.sh" + " " + label + " %f" : exec));
    }

    std::uint64_t Offset(const std::string& name) const {
        const std::uint64_t offset = test::OffsetOf(stream, name);
        EXPECT_NE(offset, 0u) << "no record " << name;
        return offset;
    }

    std::string Copy(const std::string& name) {
        return ExtractToTemp(temp, stream, Offset(name), name, tell);
    }

    // The path the handler was started with, once it has run; "" if it never does.
    std::string HandlerGot(const std::string& label) const {
        const std::string marker = desktop.folder / "received/" + label;
        for (int i = 0; i < 2000 && !std::filesystem::exists(marker); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return test::ReadWholeFile(marker);
    }
    std::string HandlerRead(const std::string& label) const {
        return test::ReadWholeFile(desktop.folder / "received/" + label + ".bytes");
    }

    // A chooser that must not be asked.
    ChooseApp NoChooser() {
        return [this](const std::string&, const std::vector<DesktopApp>&) {
            ++chooserCalls;
            return std::optional<DesktopApp>();
        };
    }
};

TEST(OpenFile, OpenHandsAFreshCopyInThePrivateFolderToTheDefaultApplication) {
    std::string folder;
    std::string copy;
    {
        OpenRig rig;
        copy = rig.Copy("notes 1.txt");
        folder = rig.temp.path();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(copy, folder + "/notes 1.txt");
        EXPECT_TRUE(LaunchPath(copy, false, rig.tell, rig.NoChooser()));
        EXPECT_EQ(rig.HandlerGot("viewer"), copy);
        EXPECT_EQ(rig.HandlerRead("viewer"), rig.notes) << "the application read the whole copy";

        // Opening it again replaces the copy, whatever became of it meanwhile.
        std::filesystem::resize_file(copy, 3);
        EXPECT_EQ(rig.Copy("notes 1.txt"), copy);
        EXPECT_EQ(test::ReadWholeFile(copy), rig.notes);
        EXPECT_TRUE(rig.messages.messages.empty());
        EXPECT_EQ(rig.chooserCalls, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(folder)) << "the copies go with their folder";
}

TEST(OpenFile, OpenWithAndTypesWithoutADefaultGoToTheChooser) {
    OpenRig rig;
    std::vector<std::string> offered;
    ChooseApp second = [&](const std::string&, const std::vector<DesktopApp>& apps) {
        for (const auto& app : apps) offered.push_back(app.name);
        return apps.size() > 1 ? std::optional<DesktopApp>(apps[1]) : std::nullopt;
    };
    const std::string notes = rig.Copy("notes 1.txt");
    EXPECT_TRUE(LaunchPath(notes, true, rig.tell, second));
    EXPECT_EQ(offered, (std::vector<std::string>{"viewer", "second"})) << "the default first";
    EXPECT_EQ(rig.HandlerGot("second"), notes);

    offered.clear();
    const std::string blob = rig.Copy("blob.bin");
    ASSERT_FALSE(blob.empty());
    EXPECT_FALSE(LaunchPath(blob, false, rig.tell, second)) << "nothing chosen, nothing started";
    EXPECT_TRUE(offered.empty());
    EXPECT_TRUE(rig.messages.messages.empty()) << "no message on the way to the chooser";

    int asked = 0;
    EXPECT_FALSE(LaunchPath(blob, false, rig.tell,
                            [&](const std::string& path, const std::vector<DesktopApp>&) {
                                ++asked;
                                EXPECT_EQ(path, blob);
                                return std::optional<DesktopApp>();
                            }));
    EXPECT_EQ(asked, 1);
}

TEST(OpenFile, AFailedCopyIsToldAndNothingIsLaunchedNotEvenAnEarlierCopy) {
    struct Case {
        const char* what;
        bool missingStream;
        std::uint64_t offset;  // 0: the record's own
        bool exactText;
    } cases[] = {
        {"a chunk that will not decode", false, 0, true},
        {"the stream is gone", true, 0, false},
        {"the record lies past the stream's end", false, 1 << 20, false},
    };
    for (const auto& c : cases) {
        OpenRig rig;
        ASSERT_TRUE(rig.temp.Create().ok());
        const std::string old = rig.temp.path() + "/bad.txt";
        std::filesystem::copy_file(rig.stream, old);
        const std::uint64_t offset = c.offset ? c.offset : rig.Offset("bad.txt");
        if (c.missingStream) std::filesystem::remove(rig.stream);
        const std::string copy = ExtractToTemp(rig.temp, rig.stream, offset, "bad.txt", rig.tell);
        EXPECT_EQ(copy, "") << c.what;
        ASSERT_EQ(rig.messages.messages.size(), 1u) << c.what;
        const std::string& text = rig.messages.messages[0].text;
        EXPECT_EQ(c.exactText ? text : FirstParagraph(text), kExtractError) << c.what;
        EXPECT_EQ(rig.messages.messages[0].icon, MessageIcon::Warning) << c.what;
        if (c.exactText) {
            // The earlier copy is replaced only by a whole one; no partial copy is left beside it.
            EXPECT_EQ(std::filesystem::file_size(old), std::filesystem::file_size(rig.stream));
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rig.temp.path()), {}), 1);
        }
    }
}

TEST(OpenFile, ApplicationsThatCannotStartAreToldInWords) {
    struct Case {
        const char* exec;
        const char* text;
    } cases[] = {
        {"/nonexistent/viewer %f", "The specified file was not found."},
        {"corvane-no-such-viewer %f", "The specified file was not found."},
        {"@/not-executable.sh %f", "The operating system denied access to the specified file."},
        {"viewer \"unclosed %f", "Error opening!"},
    };
    for (const auto& c : cases) {
        OpenRig rig;
        const std::string notExecutable = rig.desktop.folder.WriteFile("not-executable.sh", "");
        std::string exec = c.exec;
        if (exec.front() == '@') exec = notExecutable + exec.substr(exec.find(' '));
        rig.AddHandler("broken", "text/plain;", exec);
        rig.desktop.Write(Place::UserConfig, "mimeapps.list",
                          "[Default Applications]\ntext/plain=broken.desktop\n");
        const std::string copy = rig.Copy("notes 1.txt");
        EXPECT_FALSE(LaunchPath(copy, false, rig.tell, rig.NoChooser())) << c.exec;
        ASSERT_EQ(rig.messages.messages.size(), 1u) << c.exec;
        EXPECT_EQ(FirstParagraph(rig.messages.messages[0].text), c.text) << c.exec;
        EXPECT_NE(rig.messages.messages[0].text.find("broken"), std::string::npos)
            << "the reason names the application";
    }
}

TEST(OpenFile, AFolderGoesToTheFileManagerAndAMissingPathNowhere) {
    OpenRig rig;
    const std::string folder = rig.backup.MakeFolder("a folder");
    EXPECT_TRUE(LaunchPath(folder, true, rig.tell, rig.NoChooser())) << "even from Open With";
    EXPECT_EQ(rig.HandlerGot("files"), folder);

    EXPECT_FALSE(LaunchPath(rig.backup / "gone.txt", false, rig.tell, rig.NoChooser()));
    EXPECT_FALSE(LaunchPath(rig.backup / "gone.txt", true, rig.tell, rig.NoChooser()));
    EXPECT_EQ(rig.chooserCalls, 0);
    EXPECT_TRUE(rig.messages.messages.empty());
}

DesktopApp Named(const char* name) {
    DesktopApp app;
    app.name = name;
    app.icon = "text-editor";
    return app;
}

// Runs the chooser on apps and, once it shows, does what act says to it.
std::optional<DesktopApp> RunChooser(std::vector<DesktopApp> apps,
                                     const std::function<void(COpenWith&)>& act) {
    QTimer::singleShot(10, [&] {
        auto* dialog = qobject_cast<COpenWith*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        act(*dialog);
    });
    return COpenWith::ChooserFor(nullptr)("/tmp/x/report.txt", apps);
}

QPushButton* Button(QWidget& dialog, int id) {
    return qobject_cast<QPushButton*>(FindControl(&dialog, id));
}

TEST(OpenWithChooser, OffersTheDefaultFirstAndSelectedAndReturnsTheChoice) {
    const std::vector<DesktopApp> apps = {Named("Viewer"), Named("Editor"), Named("Player")};
    auto chosen = RunChooser(apps, [](COpenWith& dialog) {
        auto* list = qobject_cast<QListWidget*>(FindControl(&dialog, 1040));
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(0)->text(), "Viewer");
        EXPECT_EQ(list->item(2)->text(), "Player");
        EXPECT_EQ(list->currentRow(), 0);
        EXPECT_EQ(dialog.windowTitle(), "Open With");
        Button(dialog, 1)->click();
    });
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->name, "Viewer");

    chosen = RunChooser(apps, [](COpenWith& dialog) {
        qobject_cast<QListWidget*>(FindControl(&dialog, 1040))->setCurrentRow(1);
        Button(dialog, 1)->click();
    });
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->name, "Editor");

    EXPECT_FALSE(RunChooser(apps, [](COpenWith& dialog) { Button(dialog, 2)->click(); }));
}

TEST(OpenWithChooser, WithNothingToOfferSaysSoAndOffersCancelOnly) {
    auto chosen = RunChooser({}, [](COpenWith& dialog) {
        EXPECT_FALSE(Button(dialog, 1)->isVisible());
        EXPECT_TRUE(Button(dialog, 2)->isVisible());
        auto* none = qobject_cast<QLabel*>(FindControl(&dialog, 1042));
        ASSERT_TRUE(none);
        EXPECT_TRUE(none->isVisible());
        EXPECT_FALSE(none->text().isEmpty());
        dialog.accept();  // Enter: still nothing to choose
    });
    EXPECT_FALSE(chosen);
}

}  // namespace
}  // namespace corvane
