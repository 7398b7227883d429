#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "RootedFileSystem.h"
#include "TestExtractHost.h"
#include "TreeListing.h"
#include "extract/FileExtractor.h"
#include "support/FaultyFileSystem.h"
#include "support/ScratchFolder.h"
#include "support/StreamTestUtil.h"

namespace corvane {
namespace {

using test::OffsetOf;
using test::ReadWholeFile;
using test::SampleBytes;
using test::SampleFile;
using test::TestExtractHost;
using test::TreeListing;

constexpr const char* kExtractError = "There was an error extracting the file!";

std::int64_t ModifiedTime(const std::string& path) {
    FileInfo info;
    EXPECT_TRUE(DefaultFileSystem().Stat(path, info).ok()) << path;
    return info.modified;
}

bool StrictlyGrowing(const std::vector<int>& values) {
    return std::adjacent_find(values.begin(), values.end(), std::greater_equal<>()) == values.end();
}

// Streams in a "disc" folder of a scratch folder; the destination "out" beside it.
class Extraction : public ::testing::Test {
  protected:
    std::string WriteStream(const std::string& folderPath, const std::vector<SampleFile>& files,
                            const std::string& name = "s 0.cvn") {
        std::string path = scratch.MakeFolder("disc") + "/" + name;
        EXPECT_TRUE(test::WriteSampleStream(path, folderPath, "", files).ok());
        return path;
    }

    test::ScratchFolder scratch;
    const std::string out = scratch / "out";
};

TEST_F(Extraction, FolderStreamRestoresEveryFileByteForByteWithItsTime) {
    const std::vector<SampleFile> files = {
        {"empty.txt", "", 1, 1000000000},
        {"f4095", SampleBytes(4095, 1), 1, 1100000000},
        {"f4096", SampleBytes(4096, 2), 1, 1200000000},
        {"f4097", SampleBytes(4097, 3), 1, 1300000000},
        {"caf\xE9.txt", "stored by a single-byte code page", 1, 1400000000},
        {"big.bin", SampleBytes(3 << 20, 4), 1, 1500000000},
    };
    const std::vector<std::string> localNames = {"empty.txt", "f4095",    "f4096",
                                                 "f4097",     "café.txt", "big.bin"};
    TestExtractHost host(out);
    ExtractFolderStream(host, WriteStream("\\Docs\\2008", files));

    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.remembered, out);
    EXPECT_EQ(host.progressShown, 1);
    std::vector<std::string> statuses;
    std::set<std::string> tree = {"Docs", "Docs/2008"};
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(localNames[i]);
        const std::string path = out + "/Docs/2008/" + localNames[i];
        tree.insert("Docs/2008/" + localNames[i]);
        EXPECT_EQ(ReadWholeFile(path), files[i].content);
        EXPECT_EQ(ModifiedTime(path), files[i].modified);
        const std::string shown = "Docs\\2008\\" + localNames[i];
        statuses.insert(statuses.end(), {shown, "Extracted"});
        const std::vector<int>& progress = host.progressUnder[shown];
        EXPECT_TRUE(StrictlyGrowing(progress)) << ::testing::PrintToString(progress);
        EXPECT_EQ(progress.empty() ? -1 : progress.back(), 100);
    }
    statuses.push_back("Extracted");
    EXPECT_EQ(host.statuses, statuses);
    EXPECT_EQ(TreeListing(out), tree);
}

struct DestinationCase {
    const char* what;
    std::string folderPath;
    std::string destination;
    std::string remembered;
    std::string folderTarget;
    std::string fileTarget;
    std::string shown;
};

void PrintTo(const DestinationCase& c, std::ostream* os) { *os << c.what; }

class DestinationForms : public ::testing::TestWithParam<DestinationCase> {};

// The scratch folder plays "/", so that the root can be a destination.
TEST_P(DestinationForms, GiveTheExpectedTargets) {
    const auto& c = GetParam();
    test::ScratchFolder root;
    const std::string stream = root.MakeFolder("disc") + "/s 0.cvn";
    ASSERT_TRUE(test::WriteSampleStream(stream, c.folderPath, "", {{"a.txt", "abc"}}).ok());
    root.MakeFolder("out");  // a single file goes into an existing folder only
    test::RootedFileSystem files(root.path());

    TestExtractHost folderHost(c.destination);
    folderHost.files = &files;
    ExtractFolderStream(folderHost, "/disc/s 0.cvn");
    EXPECT_EQ(files.written, std::vector<std::string>{c.folderTarget});
    EXPECT_EQ(ReadWholeFile(root.path() + c.folderTarget), "abc");
    EXPECT_EQ(folderHost.statuses, (std::vector<std::string>{c.shown, "Extracted", "Extracted"}));
    EXPECT_EQ(folderHost.remembered, c.remembered);

    std::filesystem::remove(root.path() + c.folderTarget);
    files.written.clear();
    TestExtractHost fileHost(c.destination);
    fileHost.files = &files;
    EXPECT_EQ(ExtractFileRecord(fileHost, "/disc/s 0.cvn", OffsetOf(stream, "a.txt"), "a.txt"), 0);
    EXPECT_EQ(files.written, std::vector<std::string>{c.fileTarget});
    EXPECT_EQ(ReadWholeFile(root.path() + c.fileTarget), "abc");
    EXPECT_EQ(fileHost.status(), "Extracted");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DestinationForms,
    ::testing::Values(DestinationCase{"plain", "\\Docs", "/out", "/out", "/out/Docs/a.txt",
                                      "/out/a.txt", "Docs\\a.txt"},
                      DestinationCase{"trailing slash", "\\Docs", "/out/", "/out/",
                                      "/out/Docs/a.txt", "/out/a.txt", "Docs\\a.txt"},
                      DestinationCase{"slashes and trailing white space", "\\Docs", "/out// \t",
                                      "/out//", "/out/Docs/a.txt", "/out/a.txt", "Docs\\a.txt"},
                      DestinationCase{"root destination", "\\Docs", "/", "/", "/Docs/a.txt",
                                      "/a.txt", "Docs\\a.txt"},
                      DestinationCase{"root stream", "\\", "/out", "/out", "/out/a.txt",
                                      "/out/a.txt", "\\a.txt"},
                      DestinationCase{"root stream, trailing slash", "\\", "/out/", "/out/",
                                      "/out/a.txt", "/out/a.txt", "\\a.txt"},
                      DestinationCase{"root stream into the root", "\\", "/", "/", "/a.txt",
                                      "/a.txt", "\\a.txt"}));

struct OverwriteCase {
    const char* what;
    std::vector<OverwriteAnswer> answers;
    std::string asked;   // files prompted for, in order
    std::string kept;    // existing files left as they were
    std::string absent;  // files never written
    std::string status;
};

void PrintTo(const OverwriteCase& c, std::ostream* os) { *os << c.what; }

class FolderOverwrite : public Extraction, public ::testing::WithParamInterface<OverwriteCase> {};

// Files a, b, c, d; all but b exist already.
TEST_P(FolderOverwrite, FollowsTheAnswers) {
    const auto& c = GetParam();
    const std::string stream =
        WriteStream("\\Docs", {{"a", "new a"}, {"b", "new b"}, {"c", "new c"}, {"d", "new d"}});
    for (const char* name : {"a", "c", "d"})
        scratch.WriteFile(std::string("out/Docs/") + name, "old");
    TestExtractHost host(out);
    host.answers.assign(c.answers.begin(), c.answers.end());
    ExtractFolderStream(host, stream);

    std::vector<std::string> asked;
    for (char name : c.asked) asked.push_back(out + "/Docs/" + name);
    EXPECT_EQ(host.prompts, asked);
    for (char name : std::string("abcd")) {
        SCOPED_TRACE(name);
        const std::string path = out + "/Docs/" + name;
        if (c.absent.find(name) != std::string::npos)
            EXPECT_FALSE(std::filesystem::exists(path));
        else
            EXPECT_EQ(ReadWholeFile(path),
                      c.kept.find(name) != std::string::npos ? "old" : std::string("new ") + name);
    }
    EXPECT_EQ(host.status(), c.status);
    EXPECT_EQ(host.cancelRequested.load(), c.status == "Cancelled" ? 1 : 0);
    EXPECT_TRUE(host.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderOverwrite,
    ::testing::Values(
        OverwriteCase{"No asks again",
                      {OverwriteAnswer::No, OverwriteAnswer::No, OverwriteAnswer::No},
                      "acd",
                      "acd",
                      "",
                      "Extracted"},
        OverwriteCase{"Yes asks again",
                      {OverwriteAnswer::Yes, OverwriteAnswer::Yes, OverwriteAnswer::Yes},
                      "acd",
                      "",
                      "",
                      "Extracted"},
        OverwriteCase{"NoToAll skips the rest silently",
                      {OverwriteAnswer::NoToAll},
                      "a",
                      "acd",
                      "",
                      "Extracted"},
        OverwriteCase{"YesToAll replaces the rest silently",
                      {OverwriteAnswer::YesToAll},
                      "a",
                      "",
                      "",
                      "Extracted"},
        OverwriteCase{"No, then YesToAll",
                      {OverwriteAnswer::No, OverwriteAnswer::YesToAll},
                      "ac",
                      "a",
                      "",
                      "Extracted"},
        OverwriteCase{
            "Cancel stops the stream", {OverwriteAnswer::Cancel}, "a", "acd", "b", "Cancelled"}));

TEST_F(Extraction, ToAllAnswersLastOneStreamOnly) {
    const std::string first = WriteStream("\\Docs", {{"a", "1"}, {"b", "1"}}, "s 0.cvn");
    const std::string second = WriteStream("\\Docs", {{"a", "2"}, {"b", "2"}}, "s 1.cvn");
    scratch.WriteFile("out/Docs/a", "old");
    scratch.WriteFile("out/Docs/b", "old");
    TestExtractHost host(out);
    host.answers = {OverwriteAnswer::NoToAll, OverwriteAnswer::YesToAll};
    ExtractFolderStream(host, first);
    ExtractFolderStream(host, second);
    EXPECT_EQ(host.prompts, (std::vector<std::string>{out + "/Docs/a", out + "/Docs/a"}));
    EXPECT_EQ(ReadWholeFile(out + "/Docs/b"), "2");
}

// A run remembers every name it gave in every folder: two streams of one folder, a file of the
// root named like a folder the run made, a folder named like a file the run wrote (its second
// stream and its sub-folder follow it) and single files of one name all come back whole.
// Only what was there before the run is asked about.
TEST_F(Extraction, ARunNeverWritesOverWhatItWrote) {
    const std::string first = WriteStream("\\Docs", {{"a.txt", "1"}}, "s 0.cvn");
    const std::string second = WriteStream("\\Docs", {{"a.txt", "2"}, {"b", "2"}}, "s 1.cvn");
    const std::string root = WriteStream("\\", {{"Docs", "file"}, {"Late", "file"}}, "s 2.cvn");
    const std::string other = WriteStream("\\Other", {{"a.txt", "3"}}, "s 3.cvn");
    const std::vector<std::string> late = {WriteStream("\\Late", {{"x", "4"}}, "s 4.cvn"),
                                           WriteStream("\\Late", {{"y", "5"}}, "s 5.cvn"),
                                           WriteStream("\\Late\\In", {{"z", "6"}}, "s 6.cvn")};
    scratch.WriteFile("out/Docs/b", "old");
    TestExtractHost host(out);
    host.answers = {OverwriteAnswer::Yes};
    {
        ExtractionRun run(host);
        run.FolderStream(first);
        run.FolderStream(second);
        run.FolderStream(root);
        for (const auto& stream : late) run.FolderStream(stream);
        EXPECT_EQ(run.SingleFile(first, OffsetOf(first, "a.txt"), "a.txt"), 0);
        EXPECT_EQ(run.SingleFile(other, OffsetOf(other, "a.txt"), "a.txt"), 0);
    }
    EXPECT_EQ(host.prompts, std::vector<std::string>{out + "/Docs/b"});
    const std::map<std::string, std::string> files = {
        {"Docs/a.txt", "1"}, {"Docs/a (2).txt", "2"}, {"Docs/b", "2"}, {"Docs (2)", "file"}, {"Late", "file"},
        {"Late (2)/x", "4"}, {"Late (2)/y", "5"},     {"Late (2)/In/z", "6"}, {"a.txt", "1"}, {"a (2).txt", "3"}};
    std::set<std::string> tree = {"Docs", "Late (2)", "Late (2)/In"};
    for (const auto& [path, content] : files) {
        tree.insert(path);
        EXPECT_EQ(ReadWholeFile(out + "/" + path), content) << path;
    }
    EXPECT_EQ(TreeListing(out), tree);
    EXPECT_EQ(host.renamed, (std::vector<std::pair<std::string, std::string>>{
                                {"Docs\\a.txt", out + "/Docs/a (2).txt"},
                                {"\\Docs", out + "/Docs (2)"},
                                {"Late", out + "/Late (2)"},
                                {"Late", out + "/Late (2)"},
                                {"Late\\In", out + "/Late (2)/In"},
                                {"a.txt", out + "/a (2).txt"}}));
    EXPECT_TRUE(host.notRestored.empty());
}

TEST_F(Extraction, SingleFileOverwriteFollowsTheAnswer) {
    const std::string stream = WriteStream("\\Docs", {{"a", "new"}});
    const struct {
        OverwriteAnswer answer;
        bool replaced;
    } cases[] = {{OverwriteAnswer::Yes, true},
                 {OverwriteAnswer::YesToAll, true},
                 {OverwriteAnswer::No, false},
                 {OverwriteAnswer::NoToAll, false},
                 {OverwriteAnswer::Cancel, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        scratch.WriteFile("out/a", "old");
        TestExtractHost host(out);
        host.answers = {c.answer};
        EXPECT_EQ(ExtractFileRecord(host, stream, OffsetOf(stream, "a"), "a"), 0);
        EXPECT_EQ(host.prompts, std::vector<std::string>{out + "/a"});
        EXPECT_EQ(ReadWholeFile(out + "/a"), c.replaced ? "new" : "old");
        // Anything but replacing ends the whole run.
        EXPECT_EQ(host.status(), c.replaced ? "Extracted" : "Cancelled");
        EXPECT_EQ(host.cancelRequested.load(), c.replaced ? 0 : 1);
    }
}

TEST_F(Extraction, AReplacementThatFailsOrStopsKeepsTheOldFile) {
    SampleFile damaged{"big", SampleBytes(100 * 4096, 5)};
    damaged.damagedChunk = 60;
    const std::string sound = WriteStream("\\Docs", {{"big", SampleBytes(100 * 4096, 5)}}, "sound 0.cvn");
    const std::string broken = WriteStream("\\Docs", {damaged}, "broken 0.cvn");
    enum class Way { Damaged, DiskFull, Cancel };
    for (Way way : {Way::Damaged, Way::DiskFull, Way::Cancel}) {
        for (bool single : {false, true}) {
            SCOPED_TRACE(static_cast<int>(way) * 2 + single);
            std::filesystem::remove_all(out);
            scratch.WriteFile(single ? "out/big" : "out/Docs/big", "the old content");
            test::FaultyFileSystem files;
            if (way == Way::DiskFull) files.Add({test::Fault::Kind::WriteAfter, "restoring", 1000, Status::Code::NoSpace});
            TestExtractHost host(out);
            host.files = &files;
            host.answers = {OverwriteAnswer::Yes};
            if (way == Way::Cancel)
                host.onProgress = [](TestExtractHost& h, int percent) {
                    if (percent > 10) h.cancelRequested = 1;
                };
            const std::string& stream = way == Way::Damaged ? broken : sound;
            if (single)
                ExtractFileRecord(host, stream, OffsetOf(stream, "big"), "big");
            else
                ExtractFolderStream(host, stream);
            EXPECT_EQ(host.status(), way == Way::Cancel ? "Cancelled" : "Error");
            const std::string folder = single ? out : out + "/Docs";
            EXPECT_EQ(ReadWholeFile(folder + "/big"), "the old content");
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no partial file beside it";
        }
    }
}

TEST_F(Extraction, CorruptChunkFailsItsFileAloneAndRemovesThePartialFile) {
    // A short file is decoded in one batch, a long one in many on every core.
    for (auto [pieces, damaged] : {std::pair{3, 1}, std::pair{200, 150}}) {
        SCOPED_TRACE(pieces);
        std::filesystem::remove_all(out);
        SampleFile bad{"bad", SampleBytes(static_cast<std::size_t>(pieces) * 4096, 2)};
        bad.damagedChunk = damaged;
        const std::string stream =
            WriteStream("\\Docs", {{"first", SampleBytes(5000, 1)}, bad, {"after", "later"}});

        TestExtractHost host(out);
        ExtractFolderStream(host, stream);
        EXPECT_TRUE(host.messages.empty());
        EXPECT_EQ(host.notRestored, (std::vector<std::pair<std::string, std::string>>{{"Docs\\bad", kExtractError}}));
        EXPECT_EQ(host.statuses, (std::vector<std::string>{"Docs\\first", "Extracted", "Docs\\bad", "Error",
                                                           "Docs\\after", "Extracted", "Error"}));
        EXPECT_EQ(TreeListing(out), (std::set<std::string>{"Docs", "Docs/first", "Docs/after"}));
        EXPECT_EQ(ReadWholeFile(out + "/Docs/after"), "later");
        EXPECT_EQ(host.restored, (std::vector<std::string>{out + "/Docs/first", out + "/Docs/after"}));

        scratch.MakeFolder("out");
        TestExtractHost single(out);
        EXPECT_EQ(ExtractFileRecord(single, stream, OffsetOf(stream, "bad"), "bad"), 1);
        EXPECT_TRUE(single.messages.empty());
        EXPECT_EQ(single.notRestored, (std::vector<std::pair<std::string, std::string>>{{"bad", kExtractError}}));
        EXPECT_EQ(single.status(), "Error");
        EXPECT_FALSE(std::filesystem::exists(out + "/bad"));
    }
}

// Rewrites the first ChunkLength of the stream's record-th record (from 0) out of range.
void LieAboutFirstChunkLength(const std::string& stream, std::size_t record) {
    test::ReadBack back;
    ASSERT_TRUE(test::ReadSampleStream(stream, back).ok());
    std::string bytes = ReadWholeFile(stream);
    const std::uint64_t at = back.records.at(record).recordOffset + 20;  // past DataSize and the times
    bytes.replace(at, 4, std::string("\xFF\xFF\xFF\x7F", 4));
    std::ofstream(stream, std::ios::binary | std::ios::trunc) << bytes;
}

TEST_F(Extraction, ARunOfStreamsFinishesEachFileBeforeTheNextAndGivesUpOnlyADamagedFile) {
    // Reading and decoding run ahead across files and streams; the user and the destination
    // must see each file restored to its end before the next is begun or asked about.
    const std::string big = SampleBytes(600000, 1);
    SampleFile bad{"bad", SampleBytes(20 * 4096, 2)};
    bad.damagedChunk = 5;
    const std::vector<std::string> streams = {
        WriteStream("\\A", {{"big", big}, {"twice", "one"}, {"twice", "two"}}, "s 0.cvn"),
        WriteStream("\\B", {bad, {"never", "x"}}, "s 1.cvn"),
        WriteStream("\\C", {{"old", "new"}}, "s 2.cvn"),
        // "dup" is there before the run and kept: whether the reader got to its lying chunk
        // length before that was decided must not matter.
        WriteStream("\\D", {{"dup", SampleBytes(9000, 4)}, {"after", "x"}}, "s 3.cvn"),
    };
    LieAboutFirstChunkLength(streams[3], 0);
    // On the extraction's thread alone, and with decoding threads, a few times over.
    for (int workers : {0, 1, 3, 3, 3}) {
        SCOPED_TRACE(workers);
        std::filesystem::remove_all(out);
        scratch.WriteFile("out/C/old", "old");
        scratch.WriteFile("out/D/dup", big);
        TestExtractHost host(out);
        host.decodeWorkers = workers;
        host.answers = {OverwriteAnswer::Yes, OverwriteAnswer::No};
        std::vector<std::set<std::string>> treeAtPrompt;
        host.onPrompt = [&](TestExtractHost&) {
            EXPECT_EQ(ReadWholeFile(out + "/A/big"), big) << "asked before the file before was written";
            treeAtPrompt.push_back(TreeListing(out));
        };
        {
            ExtractionRun run(host);
            for (const auto& stream : streams) run.FolderStream(stream);
        }
        // The second "twice" is never asked about nor written over: it takes a numbered name.
        EXPECT_EQ(host.prompts, (std::vector<std::string>{out + "/C/old", out + "/D/dup"}));
        ASSERT_EQ(treeAtPrompt.size(), 2u);
        EXPECT_EQ(treeAtPrompt[0], (std::set<std::string>{"A", "A/big", "A/twice", "A/twice (2)", "B", "B/never", "C",
                                                          "C/old", "D", "D/dup"}));
        EXPECT_EQ(host.statuses,
                  (std::vector<std::string>{"A\\big", "Extracted", "A\\twice", "Extracted", "A\\twice", "Extracted",
                                            "Extracted", "B\\bad", "Error", "B\\never", "Extracted", "Error", "C\\old",
                                            "Extracted", "Extracted", "D\\dup", "D\\after", "Extracted", "Extracted"}));
        EXPECT_TRUE(host.messages.empty());
        EXPECT_EQ(host.notRestored, (std::vector<std::pair<std::string, std::string>>{{"B\\bad", kExtractError}}));
        EXPECT_EQ(host.renamed, (std::vector<std::pair<std::string, std::string>>{{"A\\twice", out + "/A/twice (2)"}}));
        EXPECT_EQ(ReadWholeFile(out + "/A/twice"), "one");
        EXPECT_EQ(ReadWholeFile(out + "/A/twice (2)"), "two");
        EXPECT_EQ(ReadWholeFile(out + "/C/old"), "new");
        EXPECT_EQ(ReadWholeFile(out + "/D/dup"), big);
        EXPECT_EQ(ReadWholeFile(out + "/D/after"), "x");
        std::set<std::string> all = treeAtPrompt[0];
        all.insert("D/after");
        EXPECT_EQ(TreeListing(out), all);
        EXPECT_EQ(host.progressShown, 4);
    }
}

TEST_F(Extraction, ACancelInOneStreamOfARunLeavesTheStreamsAfterItUntouched) {
    const std::string first = WriteStream("\\A", {{"large", SampleBytes(3 << 20, 3)}, {"after", "x"}}, "s 0.cvn");
    const std::string second = WriteStream("\\B", {{"b", "y"}}, "s 1.cvn");
    TestExtractHost host(out);
    host.onProgress = [](TestExtractHost& h, int percent) {
        if (percent > 10) h.cancelRequested = 1;
    };
    {
        ExtractionRun run(host);
        run.FolderStream(first);
        run.FolderStream(second);
    }
    EXPECT_EQ(host.statuses, (std::vector<std::string>{"A\\large", "Cancelled", "Cancelled"}));
    EXPECT_EQ(TreeListing(out), std::set<std::string>{"A"});
    EXPECT_EQ(host.progressShown, 1);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(Extraction, StreamCutInsideARecordIsReported) {
    const std::string stream = WriteStream("\\Docs", {{"a", "first"}, {"b", "second"}});
    const std::string bytes = ReadWholeFile(stream);
    scratch.WriteFile("disc/s 0.cvn", bytes.substr(0, OffsetOf(stream, "b") - 1));  // inside "b"

    TestExtractHost host(out);
    ExtractFolderStream(host, stream);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.notRestored,
              (std::vector<std::pair<std::string, std::string>>{{"Docs", "the rest of the stream is damaged"}}));
    EXPECT_EQ(host.status(), "Error");
    EXPECT_EQ(TreeListing(out), (std::set<std::string>{"Docs", "Docs/a"}));
}

TEST_F(Extraction, CancelDuringALargeFileRemovesItAndKeepsFinishedFiles) {
    const std::string stream = WriteStream(
        "\\Docs", {{"small", "done before"}, {"large", SampleBytes(3 << 20, 7)}, {"later", "x"}});
    TestExtractHost host(out);
    bool partialSeen = false;
    host.onProgress = [&](TestExtractHost& h, int) {
        if (h.status() != "Docs\\large" || h.progressUnder[h.status()].size() < 3) return;
        partialSeen = std::filesystem::file_size(out + "/Docs/large") > 0;
        h.cancelRequested = 1;  // the Cancel button
    };
    ExtractFolderStream(host, stream);

    EXPECT_TRUE(partialSeen);
    EXPECT_EQ(host.status(), "Cancelled");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(TreeListing(out), (std::set<std::string>{"Docs", "Docs/small"}));
    EXPECT_EQ(ReadWholeFile(out + "/Docs/small"), "done before");
}

struct FaultCase {
    const char* what;
    test::Fault fault;
    std::vector<std::string> named;  // not restored, as shown; "%S" is the stream file
    std::set<std::string> left;      // what stays in the destination
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.what; }

class FileLayerFault : public Extraction, public ::testing::WithParamInterface<FaultCase> {};

// Failures of the file layer name what they cost with their cause, the file in hand is
// removed, and the files after it are restored.
TEST_P(FileLayerFault, IsReportedAsAnExtractionError) {
    const auto& c = GetParam();
    const std::string stream = WriteStream(
        "\\Docs", {{"small", "done before"}, {"large", SampleBytes(1 << 20, 3)}, {"later", "x"}});
    test::FaultyFileSystem files;
    files.Add(c.fault);
    TestExtractHost host(out);
    host.files = &files;
    ExtractFolderStream(host, stream);

    EXPECT_TRUE(host.messages.empty());
    std::vector<std::string> named;
    for (const auto& [shown, reason] : host.notRestored) {
        named.push_back(shown == stream ? "%S" : shown);
        EXPECT_NE(reason.find("Injected fault"), std::string::npos) << reason;
    }
    EXPECT_EQ(named, c.named);
    EXPECT_EQ(host.status(), "Error");
    EXPECT_EQ(host.restored.size(), c.left.empty() ? 0 : c.left.size() - 1);
    EXPECT_EQ(std::count(host.statuses.begin(), host.statuses.end(), "Extracted"),
              static_cast<std::ptrdiff_t>(host.restored.size()));
    EXPECT_EQ(TreeListing(out), c.left);
}

using Kind = test::Fault::Kind;
INSTANTIATE_TEST_SUITE_P(
    Cases, FileLayerFault,
    ::testing::Values(
        FaultCase{"destination full",
                  {Kind::WriteAfter, "large", 100000, Status::Code::NoSpace},
                  {"Docs\\large"},
                  {"Docs", "Docs/small", "Docs/later"}},
        // The source cannot be read on: the rest of the stream is lost, and named.
        FaultCase{"disc read error", {Kind::ReadAfter, ".cvn", 200000}, {"Docs\\large", "Docs"}, {"Docs", "Docs/small"}},
        FaultCase{"error when closing", {Kind::Close, "large"}, {"Docs\\large"}, {"Docs", "Docs/small", "Docs/later"}},
        FaultCase{"target cannot be created",
                  {Kind::OpenWrite, "large", 0, Status::Code::AccessDenied},
                  {"Docs\\large"},
                  {"Docs", "Docs/small", "Docs/later"}},
        FaultCase{"folder cannot be created",
                  {Kind::CreateFolder, "Docs", 0, Status::Code::AccessDenied},
                  {"Docs\\small", "Docs\\large", "Docs\\later"},
                  {}},
        FaultCase{"stream cannot be opened", {Kind::OpenRead, ".cvn"}, {"%S"}, {}}));

TEST_F(Extraction, EmptyDestinationExtractsNothing) {
    const std::string stream = WriteStream("\\Docs", {{"a", "x"}});
    for (bool single : {false, true}) {
        SCOPED_TRACE(single ? "single file" : "folder stream");
        TestExtractHost host(" \t ");
        host.remembered = "earlier";
        if (single)
            EXPECT_EQ(ExtractFileRecord(host, stream, OffsetOf(stream, "a"), "a"), 1);
        else
            ExtractFolderStream(host, stream);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, "You must select a destination folder.");
        EXPECT_EQ(host.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(host.statuses, std::vector<std::string>{"Error"});
        EXPECT_EQ(host.remembered, "");
    }
    EXPECT_EQ(TreeListing(scratch.path()), (std::set<std::string>{"disc", "disc/s 0.cvn"}));
}

TEST_F(Extraction, SingleFileComesFromItsRecordStraightIntoTheDestination) {
    const std::string content = SampleBytes(10000, 9);
    const std::string stream =
        WriteStream("\\Docs", {{"one", "1"}, {"two", content, 1, 1234567890}, {"three", "3"}});
    scratch.MakeFolder("out");
    TestExtractHost host(out + "/");
    EXPECT_EQ(ExtractFileRecord(host, stream, OffsetOf(stream, "two"), "two"), 0);
    EXPECT_EQ(host.status(), "Extracted");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(TreeListing(out), std::set<std::string>{"two"});
    EXPECT_EQ(ReadWholeFile(out + "/two"), content);
    EXPECT_EQ(ModifiedTime(out + "/two"), 1234567890);
    const std::vector<int>& progress = host.progressUnder[""];
    EXPECT_TRUE(StrictlyGrowing(progress)) << ::testing::PrintToString(progress);
    EXPECT_EQ(progress.empty() ? -1 : progress.back(), 100);
}

TEST_F(Extraction, SingleFileThatCannotBeReadOrWrittenIsAnError) {
    const std::string stream = WriteStream("\\Docs", {{"a", "x"}});
    const std::uint64_t length = ReadWholeFile(stream).size();
    const struct {
        const char* what;
        std::string streamPath;
        std::uint64_t offset;
        std::string destination;
    } cases[] = {
        {"no such stream", stream + ".gone", 30, out},
        {"offset past the end", stream, length + 10, out},
        {"record cut short", stream, length - 3, out},
        {"destination missing", stream, OffsetOf(stream, "a"), out + "/missing"},
    };
    scratch.MakeFolder("out");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestExtractHost host(c.destination);
        EXPECT_EQ(ExtractFileRecord(host, c.streamPath, c.offset, "a"), 1);
        EXPECT_EQ(host.status(), "Error");
        EXPECT_TRUE(host.messages.empty());
        ASSERT_EQ(host.notRestored.size(), 1u);
        EXPECT_EQ(host.notRestored[0].first, "a");
        EXPECT_TRUE(TreeListing(out).empty());
    }
}

// The destination itself is the user's choice, links and all: only what lies below it is
// opened without following links.
TEST_F(Extraction, ADestinationReachedThroughALinkIsUsed) {
    const std::string stream = WriteStream("\\Docs", {{"a", "via the link"}});
    scratch.MakeFolder("real/existing");
    std::filesystem::create_directory_symlink(scratch / "real", scratch / "link");
    TestExtractHost folder(scratch / "link/new/out");
    ExtractFolderStream(folder, stream);
    EXPECT_EQ(folder.status(), "Extracted");
    EXPECT_TRUE(folder.notRestored.empty());
    EXPECT_EQ(ReadWholeFile(scratch / "real/new/out/Docs/a"), "via the link");

    TestExtractHost single(scratch / "link/existing");
    EXPECT_EQ(ExtractFileRecord(single, stream, OffsetOf(stream, "a"), "a"), 0);
    EXPECT_EQ(ReadWholeFile(scratch / "real/existing/a"), "via the link");
}

TEST(CreateDirectoryPath, MakesTheWholeChainAndSaysWhenItCannot) {
    test::ScratchFolder scratch;
    FileSystem& files = DefaultFileSystem();
    EXPECT_TRUE(CreateDirectoryPath(files, scratch / "a/b/c").ok());
    EXPECT_TRUE(std::filesystem::is_directory(scratch / "a/b/c"));
    EXPECT_TRUE(CreateDirectoryPath(files, scratch / "a/b/c").ok());  // already there
    scratch.WriteFile("file", "");
    EXPECT_FALSE(CreateDirectoryPath(files, scratch / "file/sub").ok());
    EXPECT_FALSE(CreateDirectoryPath(files, scratch / "file").ok());
}

}  // namespace
}  // namespace corvane
