#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>

#include "support/ScratchFolder.h"
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

TEST(CommandLine, HelpListsTheRestoreCommands) {
    const Outcome run = Corvane({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("  list "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  browse "), std::string::npos) << run.out;
}

}  // namespace
}  // namespace corvane
