#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <fstream>

#include "support/ScratchFolder.h"
#include "support/SpannedBackup.h"
#include "support/StreamTestUtil.h"

namespace corvane {
namespace {

using test::ScratchFolder;
using test::WriteSampleStream;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

Outcome Corvane(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(CORVANE_BINARY_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Two discs of one backup, and a protected backup of another drive.
class ListCommand : public ::testing::Test {
  protected:
    ListCommand() {
        Write(disc1 / "DATA 0812251430 0.cvn", "\\", "", {{"b.txt", "b"}, {"a.txt", "a"}});
        Write(disc1 / "DATA 0812251430 1.cvn", "\\Docs", "", {{"r.txt", "r"}});
        Write(disc2 / "DATA 0812251430 2.cvn", "\\Docs\\2008", "", {{"x.txt", "x"}});
        Write(disc2 / "Safe 0901011200 0.cvn", "\\", "pw", {{"s.txt", "s"}});
    }
    static void Write(const std::string& path, const std::string& folder,
                      const std::string& password, const std::vector<test::SampleFile>& files) {
        ASSERT_TRUE(WriteSampleStream(path, folder, password, files).ok()) << path;
    }

    ScratchFolder disc1, disc2, other;
};

TEST_F(ListCommand, PrintsEveryDiscAsOneTree) {
    const Outcome run = Corvane({"list", Q(disc2.path()), Q(disc1.path())});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "DATA\n"
              "  08-12-25 14:30\n"
              "    Docs\n"
              "      2008\n"
              "        x.txt\n"
              "      r.txt\n"
              "    ROOT\n"
              "      a.txt\n"
              "      b.txt\n"
              "Safe\n"
              "  09-01-01 12:00\n"
              "    <protected>\n");
}

TEST_F(ListCommand, ThePasswordOpensProtectedFolders) {
    const std::string right = other.WriteFile("right", "pw  \n");
    Outcome run = Corvane({"list", Q(disc1.path()), Q(disc2.path()), "--password-file", Q(right)});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Safe\n  09-01-01 12:00\n    ROOT\n      s.txt\n"), std::string::npos)
        << run.out;

    const std::string wrong = other.WriteFile("wrong", "PW\n");
    run = Corvane({"list", Q(disc2.path()), "--password-file", Q(wrong)});
    EXPECT_NE(run.out.find("<protected>"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("does not open"), std::string::npos) << run.err;
}

TEST_F(ListCommand, AFolderWithoutStreamsIsNamedAndTheRestIsListed) {
    other.WriteFile("notes.txt", "no streams here");
    const Outcome alone = Corvane({"list", Q(disc1.path())});
    ASSERT_EQ(alone.exitCode, 0) << "a missing last disc cannot be told from the streams";
    for (const std::string& folder : {other.path(), other / "missing"}) {
        const Outcome run = Corvane({"list", Q(disc1.path()), Q(folder)});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, alone.out);
        EXPECT_NE(run.err.find(folder), std::string::npos) << run.err;
    }
}

TEST_F(ListCommand, AStreamCutShortIsNamedWithTheFilesBeforeTheCut) {
    const std::string cut = other / "CUT 0812251430 0.cvn";
    Write(cut, "\\", "", {{"a.txt", "a"}, {"b.txt", ""}});
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) - 10);
    const Outcome run = Corvane({"list", Q(other.path())});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "CUT\n  08-12-25 14:30\n    ROOT\n      a.txt\n");
    EXPECT_NE(run.err.find(cut + ": the files after those listed could not be read: "), std::string::npos) << run.err;
}

// Shift-JIS names hold 0x5C, the byte of the separator, as the second byte of many characters.
TEST_F(ListCommand, ShiftJisFolderNamesAreNotTornAtTheSeparatorByte) {
    Write(other / "JP 0812251430 0.cvn", "\\\x83\x5C\x83t\x83g\\\x95\x5C", "", {{"\x95\x5C.txt", "x"}});
    const Outcome run = Corvane({"list", Q(other.path()), "--names", "cp932"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "JP\n  08-12-25 14:30\n    ソフト\n      表\n        表.txt\n");
}

TEST_F(ListCommand, ControlCharactersFromTheDiscAreShownAsQuestionMarks) {
    Write(other / "EVIL 0812251430 0.cvn", "\\", "", {{"red\x1b[31m\x07", "x"}, {"osc\xC2\x9D" "0;t", "y"}});
    Write(other / "EVIL 0812251430 1.cvn", "\\Dir\x1b[2J", "", {{"z", "z"}});
    const Outcome run = Corvane({"list", Q(other.path())});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "EVIL\n  08-12-25 14:30\n    Dir?[2J\n      z\n    ROOT\n      osc?0;t\n      red?[31m?\n");
}

// The outline below the drive and backup lines, which name the scratch folder and the time.
std::string BelowBackup(const std::string& outline) {
    std::size_t at = 0;
    for (int line = 0; line < 2 && at != std::string::npos; ++line) at = outline.find('\n', at) + 1;
    return at == std::string::npos ? outline : outline.substr(at);
}

// Flips one byte of the catalogue inside a disc image.
void DamageCatalogue(const std::string& image) {
    std::string bytes = test::ReadWholeFile(image);
    // The magic, the format version and the backup's record: the programs hold the magic too.
    const std::size_t at = bytes.find(std::string("CVNCATLG\x01\0\0\0B", 13));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 20] = static_cast<char>(bytes[at + 20] ^ 0x01);
    std::ofstream(image, std::ios::binary | std::ios::trunc) << bytes;
}

// The newest catalogue present knows the whole backup: every folder is listed, those whose
// discs were not given marked with their disc, and each missing disc named.
TEST(ListAcrossTheSet, EveryFolderShowsAndAbsentOnesNameTheirDisc) {
    const test::SpannedBackup backup;
    struct Case {
        std::vector<int> discs;
        std::string outline;
        std::vector<std::string> missing;
    };
    const std::vector<Case> cases = {
        {{3},
         "    Docs (on disc 1)\n      2008 (on disc 1)\n        a.bin\n      r.txt\n    Music (on disc 2)\n"
         "      m.bin\n    ROOT (on disc 1)\n      readme.txt\n    Video\n      v.bin\n",
         {"disc 1 ", "disc 2 "}},
        {{1, 3},
         "    Docs\n      2008\n        a.bin\n      r.txt\n    Music (on disc 2)\n      m.bin\n    ROOT\n"
         "      readme.txt\n    Video\n      v.bin\n",
         {"disc 2 "}},
        // Disc 2's catalogue knows of disc 3 only that it follows: its folders cannot be shown.
        {{2},
         "    Docs (on disc 1)\n      2008 (on disc 1)\n        a.bin\n      r.txt\n    Music\n      m.bin\n"
         "    ROOT (on disc 1)\n      readme.txt\n",
         {"disc 1 ", "disc 3 "}},
        {{1, 2},
         "    Docs\n      2008\n        a.bin\n      r.txt\n    Music\n      m.bin\n    ROOT\n      readme.txt\n",
         {"disc 3 "}},
        {{1, 2, 3},
         "    Docs\n      2008\n        a.bin\n      r.txt\n    Music\n      m.bin\n    ROOT\n      readme.txt\n"
         "    Video\n      v.bin\n",
         {}},
    };
    for (const Case& c : cases) {
        ScratchFolder place;
        const Outcome run = Corvane({"list", Q(backup.PlaceWith(place, c.discs))});
        SCOPED_TRACE(testing::PrintToString(c.discs));
        EXPECT_EQ(BelowBackup(run.out), c.outline);
        EXPECT_EQ(run.exitCode, c.missing.empty() ? 0 : 1) << run.err;
        for (const std::string& disc : c.missing)
            EXPECT_NE(run.err.find(disc + "of "), std::string::npos) << run.err;
    }
}

// A catalogue that is damaged, or a file that is no catalogue, is named, and the streams
// present are listed without it as before.
TEST(ListAcrossTheSet, ABadCatalogueIsNamedAndTheStreamsAreListedWithoutIt) {
    const test::SpannedBackup backup;
    ScratchFolder damaged;
    backup.PlaceWith(damaged, {3});
    for (const auto& entry : std::filesystem::directory_iterator(damaged.path())) DamageCatalogue(entry.path());
    Outcome run = Corvane({"list", Q(damaged.path())});
    EXPECT_EQ(BelowBackup(run.out), "    Video\n      v.bin\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("The catalogue is damaged: its checksum does not match; the streams are read without it"),
              std::string::npos)
        << run.err;

    ScratchFolder foreign;
    ASSERT_TRUE(WriteSampleStream(foreign / "DATA 0812251430 0.cvn", "\\", "", {{"a.txt", "a"}}).ok());
    foreign.WriteFile("DATA 0812251430.catalog", "not a catalogue at all");
    run = Corvane({"list", Q(foreign.path())});
    EXPECT_EQ(run.out, "DATA\n  08-12-25 14:30\n    ROOT\n      a.txt\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("DATA 0812251430.catalog was not used: This is not a catalogue of a backup"), std::string::npos)
        << run.err;
}

TEST(CommandLine, HelpListsTheRestoreCommands) {
    const Outcome run = Corvane({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("  list "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  browse "), std::string::npos) << run.out;
}

}  // namespace
}  // namespace corvane
