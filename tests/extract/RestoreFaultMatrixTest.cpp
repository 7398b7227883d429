// Every way a restore can go wrong, one row each, for a whole folder stream and for the one
// file in its middle: what is named as not restored and why, what is left in the destination
// (finished files stay, the file in hand is removed, the files after it are restored, nothing
// else appears) and the result reported.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "TestExtractHost.h"
#include "TreeListing.h"
#include "extract/FileExtractor.h"
#include "support/FaultyFileSystem.h"
#include "support/ScratchFolder.h"
#include "support/StreamTestUtil.h"
#include "support/TestNames.h"

namespace corvane {
namespace {

using test::Fault;
using test::TestExtractHost;
using test::TreeListing;
using Kind = Fault::Kind;
using Tree = std::set<std::string>;

constexpr const char* kExtractError = "There was an error extracting the file!";
const std::string kLarge = test::SampleBytes(1 << 20, 3);
const std::map<std::string, std::string> kContents = {{"small", "done before"}, {"large", kLarge}, {"later", "x"}};

// A stream of three files in a "disc" folder; destinations "out" (the folder stream) and
// "single" (the large file alone) beside it.
struct RestoreRig {
    test::ScratchFolder scratch;
    std::string stream = scratch.MakeFolder("disc") + "/s 0.cvn";
    std::string out = scratch.MakeFolder("out");
    std::string single = scratch.MakeFolder("single");
    test::FaultyFileSystem files;

    RestoreRig() {
        EXPECT_TRUE(test::WriteSampleStream(stream, "\\Docs", "",
                                            {{"small", kContents.at("small")}, {"large", kLarge}, {"later", kContents.at("later")}})
                        .ok());
    }
    // Keeps the stream's first bytes only.
    void CutStream(std::uint64_t length) const {
        scratch.WriteFile("disc/s 0.cvn", test::ReadWholeFile(stream).substr(0, length));
    }
    // Presses Cancel part-way through the large file.
    static void CancelInsideLargeFile(TestExtractHost& host) {
        host.onProgress = [](TestExtractHost& h, int percent) {
            if (percent > 0 && percent < 100 && h.progressUnder[h.status()].size() >= 3) h.cancelRequested = 1;
        };
    }
    // "%O", "%F" and "%S" in an expected text stand for the two destinations and the stream.
    std::string Expand(std::string text) const {
        for (auto [key, value] : {std::pair{"%O", out}, {"%F", single}, {"%S", stream}})
            for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 2, value);
        return text;
    }
};

struct RestoreFault {
    const char* what;
    std::function<void(RestoreRig&)> arrange;
    // The folder stream into "out".
    std::vector<std::string> folderNotRestored;  // "shown: reason"
    Tree folderKept;
    std::string folderStatus;
    // The large file alone into "single".
    std::vector<std::string> fileNotRestored;
    int fileResult;
    bool fileKept;
    std::string fileStatus;
};

void PrintTo(const RestoreFault& row, std::ostream* os) { *os << row.what; }

class RestoreFaultMatrix : public ::testing::TestWithParam<RestoreFault> {};

std::vector<std::string> Named(const TestExtractHost& host) {
    std::vector<std::string> named;
    for (const auto& [shown, reason] : host.notRestored) named.push_back(shown + ": " + reason);
    return named;
}

std::vector<std::string> Expanded(const RestoreRig& rig, const std::vector<std::string>& texts) {
    std::vector<std::string> expanded;
    for (const auto& text : texts) expanded.push_back(rig.Expand(text));
    return expanded;
}

TEST_P(RestoreFaultMatrix, TellsTheUserKeepsFinishedFilesAndRemovesTheRest) {
    const RestoreFault& row = GetParam();
    RestoreRig rig;
    const std::uint64_t largeRecord = test::OffsetOf(rig.stream, "large");
    row.arrange(rig);
    const bool cancels = row.folderStatus == "Cancelled";

    TestExtractHost folder(rig.out);
    folder.files = &rig.files;
    if (cancels) RestoreRig::CancelInsideLargeFile(folder);
    ExtractFolderStream(folder, rig.stream);
    EXPECT_TRUE(folder.messages.empty());
    EXPECT_EQ(Named(folder), Expanded(rig, row.folderNotRestored));
    EXPECT_EQ(TreeListing(rig.out), row.folderKept);
    EXPECT_EQ(folder.status(), row.folderStatus);
    EXPECT_EQ(folder.cancelRequested.load(), cancels ? 1 : 0);
    for (const auto& [name, content] : kContents) {
        if (row.folderKept.count("Docs/" + name)) {
            EXPECT_EQ(test::ReadWholeFile(rig.out + "/Docs/" + name), content) << name;
        }
    }

    TestExtractHost file(rig.single);
    file.files = &rig.files;
    if (cancels) RestoreRig::CancelInsideLargeFile(file);
    EXPECT_EQ(ExtractFileRecord(file, rig.stream, largeRecord, "large"), row.fileResult);
    EXPECT_TRUE(file.messages.empty());
    EXPECT_EQ(Named(file), Expanded(rig, row.fileNotRestored));
    EXPECT_EQ(TreeListing(rig.single), row.fileKept ? Tree{"large"} : Tree{});
    if (row.fileKept) {
        EXPECT_EQ(test::ReadWholeFile(rig.single + "/large"), kLarge);
    }
    EXPECT_EQ(file.status(), row.fileStatus);

    Tree elsewhere;
    for (const auto& path : TreeListing(rig.scratch.path()))
        if (!path.starts_with("out") && !path.starts_with("single")) elsewhere.insert(path);
    EXPECT_EQ(elsewhere, (Tree{"disc", "disc/s 0.cvn"})) << "nothing is written beside the destinations";
}

const Tree kSmallOnly = {"Docs", "Docs/small"};
const Tree kAllButLarge = {"Docs", "Docs/small", "Docs/later"};
const std::string kRestDamaged = "Docs: the rest of the stream is damaged";

INSTANTIATE_TEST_SUITE_P(
    Rows, RestoreFaultMatrix,
    ::testing::Values(
        RestoreFault{"destination full in the middle of a file",
                     [](RestoreRig& r) { r.files.Add({Kind::WriteAfter, "large", 100000, Status::Code::NoSpace}); },
                     {"Docs\\large: Injected fault on %O/Docs/large"}, kAllButLarge, "Error",
                     {"large: Injected fault on %F/large"}, 1, false, "Error"},
        RestoreFault{"full disk found when the file is closed",
                     [](RestoreRig& r) { r.files.Add({Kind::Close, "large", 0, Status::Code::NoSpace}); },
                     {"Docs\\large: Injected fault on %O/Docs/large"}, kAllButLarge, "Error",
                     {"large: Injected fault on %F/large"}, 1, false, "Error"},
        RestoreFault{"target file not creatable",
                     [](RestoreRig& r) { r.files.Add({Kind::OpenWrite, "large", 0, Status::Code::AccessDenied}); },
                     {"Docs\\large: Injected fault on %O/Docs/large"}, kAllButLarge, "Error",
                     {"large: Injected fault on %F/large"}, 1, false, "Error"},
        // A folder stream makes its folders; a single file goes into an existing folder only.
        RestoreFault{"destination folder missing",
                     [](RestoreRig& r) {
                         std::filesystem::remove(r.out);
                         std::filesystem::remove(r.single);
                     },
                     {}, {"Docs", "Docs/small", "Docs/large", "Docs/later"}, "Extracted",
                     {"large: Cannot open folder %F: No such file or directory"}, 1, false, "Error"},
        // Every file of a folder that cannot be made is named.
        RestoreFault{"folder cannot be created",
                     [](RestoreRig& r) { r.files.Add({Kind::CreateFolder, "/Docs", 0, Status::Code::AccessDenied}); },
                     {"Docs\\small: Injected fault on %O/Docs", "Docs\\large: Injected fault on %O/Docs",
                      "Docs\\later: Injected fault on %O/Docs"},
                     {}, "Error", {}, 0, true, "Extracted"},
        RestoreFault{"disc read error in the middle of a file",
                     [](RestoreRig& r) { r.files.Add({Kind::ReadAfter, ".cvn", 200000}); },
                     {"Docs\\large: Injected fault on %S", "Docs: the rest of the stream could not be read: Injected fault on %S"},
                     kSmallOnly, "Error", {"large: Injected fault on %S"}, 1, false, "Error"},
        RestoreFault{"stream cut short inside a file",
                     [](RestoreRig& r) { r.CutStream(test::OffsetOf(r.stream, "large") + 50000); },
                     {"Docs\\large: " + std::string(kExtractError), kRestDamaged}, kSmallOnly, "Error",
                     {"large: " + std::string(kExtractError)}, 1, false, "Error"},
        RestoreFault{"stream header cut short",
                     [](RestoreRig& r) { r.CutStream(3); },
                     {"%S: Damaged stream: too short for a folder header"}, {}, "Error",
                     {"large: " + std::string(kExtractError)}, 1, false, "Error"},
        RestoreFault{"stream cut short between files",
                     [](RestoreRig& r) { r.CutStream(test::OffsetOf(r.stream, "later") - 3); },
                     {kRestDamaged}, {"Docs", "Docs/small", "Docs/large"}, "Error", {}, 0, true, "Extracted"},
        // ExtractFileRecord answers 0 for a cancelled file: the run stops through the cancel flag.
        RestoreFault{"Cancel in the middle of a file", [](RestoreRig&) {}, {}, kSmallOnly, "Cancelled", {}, 0, false,
                     "Cancelled"}),
    [](const ::testing::TestParamInfo<RestoreFault>& row) { return test::TestNameOf(row.param.what); });

}  // namespace
}  // namespace corvane
