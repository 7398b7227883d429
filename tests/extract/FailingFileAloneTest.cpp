// One folder stream of eight files restored into a real destination, with one thing wrong at
// a time: exactly which files come back byte for byte, which are named as not restored and
// why, which get another name, and that nothing is written outside the destination. Every
// row runs on the extraction's thread alone and with decoding threads.

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

namespace fs = std::filesystem;
using test::Fault;
using test::TestExtractHost;
using Kind = Fault::Kind;
using Tree = std::set<std::string>;

constexpr const char* kExtractError = "There was an error extracting the file!";

// A stream "\Docs" of files f1..f8 (several chunks each) in "disc"; the destination "out" and
// a folder "elsewhere" beside it, where links in the destination lead.
struct Rig {
    test::ScratchFolder scratch;
    std::string out = scratch.MakeFolder("out");
    std::string elsewhere = scratch.MakeFolder("elsewhere");
    std::string stream = scratch / "disc/s 0.cvn";
    std::vector<test::SampleFile> files;
    test::FaultyFileSystem faulty;

    Rig() {
        for (int i = 1; i <= 8; ++i)
            files.push_back({"f" + std::to_string(i), test::SampleBytes(5000 + 3000 * static_cast<std::size_t>(i),
                                                                         static_cast<std::uint32_t>(i))});
    }
    void WriteStream() {
        scratch.MakeFolder("disc");
        ASSERT_TRUE(test::WriteSampleStream(stream, "\\Docs", "", files).ok());
    }
    // "%O" in an expected text stands for the destination.
    std::string Expand(std::string text) const {
        for (std::size_t at; (at = text.find("%O")) != std::string::npos;) text.replace(at, 2, out);
        return text;
    }
};

struct Row {
    const char* what;
    std::function<void(Rig&)> arrange;  // before the stream is written
    std::vector<OverwriteAnswer> answers;
    std::map<std::string, int> restored;   // below "out": which file (1..8) is there, byte for byte
    std::vector<std::string> notRestored;  // "shown: reason"
    std::vector<std::string> renamed;      // "shown -> path below out"
    Tree alsoLeft;                         // other entries left below "out"
    std::string status;                    // the stream's last status
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.what; }

class FailingFileAlone : public ::testing::TestWithParam<Row> {};

TEST_P(FailingFileAlone, IsNamedAndTheOtherFilesComeBack) {
    const Row& row = GetParam();
    for (int workers : {0, 3}) {
        SCOPED_TRACE(workers);
        Rig rig;
        row.arrange(rig);
        rig.WriteStream();
        TestExtractHost host(rig.out);
        host.files = &rig.faulty;
        host.decodeWorkers = workers;
        host.answers.assign(row.answers.begin(), row.answers.end());
        ExtractFolderStream(host, rig.stream);

        EXPECT_TRUE(host.messages.empty());
        std::vector<std::string> named, renamed, expectedNamed, expectedRenamed;
        for (const auto& [shown, reason] : host.notRestored) named.push_back(shown + ": " + reason);
        for (const auto& [shown, target] : host.renamed) renamed.push_back(shown + " -> " + target);
        for (const auto& text : row.notRestored) expectedNamed.push_back(rig.Expand(text));
        for (const auto& text : row.renamed) expectedRenamed.push_back(rig.Expand(text));
        EXPECT_EQ(named, expectedNamed);
        EXPECT_EQ(renamed, expectedRenamed);
        EXPECT_EQ(host.status(), row.status);

        Tree expected = row.alsoLeft;
        if (fs::is_directory(rig.out + "/Docs")) expected.insert("Docs");
        for (const auto& [path, index] : row.restored) {
            expected.insert(path);
            EXPECT_EQ(test::ReadWholeFile(rig.out + "/" + path), rig.files[static_cast<std::size_t>(index - 1)].content)
                << path;
        }
        EXPECT_EQ(host.restored.size(), row.restored.size());
        EXPECT_EQ(test::TreeListing(rig.out), expected);
        EXPECT_EQ(test::TreeListing(rig.elsewhere), Tree{}) << "nothing is written where links lead";
    }
}

std::map<std::string, int> AllBut(std::initializer_list<int> missing) {
    std::map<std::string, int> restored;
    for (int i = 1; i <= 8; ++i)
        if (std::find(missing.begin(), missing.end(), i) == missing.end())
            restored["Docs/f" + std::to_string(i)] = i;
    return restored;
}

// A symbolic link at out/<at> to <to> (relative to the scratch folder).
void Link(Rig& rig, const std::string& at, const std::string& to) {
    fs::create_directories(fs::path(rig.out + "/" + at).parent_path());
    fs::create_symlink(rig.scratch / to, rig.out + "/" + at);
}

std::string Repeat(std::string_view text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) repeated += text;
    return repeated;
}

// 140 bytes of Latin-1, 276 once in UTF-8: cut to 250 bytes before the extension.
const std::string k140Latin1 = std::string(136, '\xE9') + ".txt";
const std::string k140Shown = Repeat("é", 136) + ".txt";
const std::string k140Cut = Repeat("é", 125) + ".txt";

INSTANTIATE_TEST_SUITE_P(
    Rows, FailingFileAlone,
    ::testing::Values(
        Row{"nothing wrong", [](Rig&) {}, {}, AllBut({}), {}, {}, {}, "Extracted"},
        Row{"damaged chunk in the first file", [](Rig& r) { r.files[0].damagedChunk = 1; }, {}, AllBut({1}),
            {"Docs\\f1: " + std::string(kExtractError)}, {}, {}, "Error"},
        Row{"a folder at a file's path", [](Rig& r) { r.scratch.MakeFolder("out/Docs/f2/inside"); }, {}, AllBut({2}),
            {"Docs\\f2: Cannot create %O/Docs/f2: a folder has that name"}, {}, {"Docs/f2", "Docs/f2/inside"}, "Error"},
        Row{"a name the destination refuses as too long",
            [](Rig& r) { r.faulty.Add({Kind::OpenWrite, "/Docs/f4", 0, Status::Code::TooLarge}); }, {}, AllBut({4}),
            {"Docs\\f4: Injected fault on %O/Docs/f4"}, {}, {}, "Error"},
        Row{"destination full from the fifth file on",
            [](Rig& r) {
                for (const char* name : {"/Docs/f5", "/Docs/f6", "/Docs/f7", "/Docs/f8"})
                    r.faulty.Add({Kind::WriteAfter, name, 1000, Status::Code::NoSpace});
            },
            {}, AllBut({5, 6, 7, 8}),
            {"Docs\\f5: Injected fault on %O/Docs/f5", "Docs\\f6: Injected fault on %O/Docs/f6",
             "Docs\\f7: Injected fault on %O/Docs/f7", "Docs\\f8: Injected fault on %O/Docs/f8"},
            {}, {}, "Error"},
        // A link at a target's path is an entry like any other: kept, or replaced itself.
        Row{"dangling link at a target, overwrite no", [](Rig& r) { Link(r, "Docs/f3", "elsewhere/made"); },
            {OverwriteAnswer::No}, AllBut({3}), {}, {}, {"Docs/f3"}, "Extracted"},
        Row{"dangling link at a target, overwrite yes", [](Rig& r) { Link(r, "Docs/f3", "elsewhere/made"); },
            {OverwriteAnswer::Yes}, AllBut({}), {}, {}, {}, "Extracted"},
        Row{"a linked folder on the way", [](Rig& r) { Link(r, "Docs", "elsewhere"); }, {}, {},
            {"Docs\\f1: Cannot create folder %O/Docs: it is a symbolic link",
             "Docs\\f2: Cannot create folder %O/Docs: it is a symbolic link",
             "Docs\\f3: Cannot create folder %O/Docs: it is a symbolic link",
             "Docs\\f4: Cannot create folder %O/Docs: it is a symbolic link",
             "Docs\\f5: Cannot create folder %O/Docs: it is a symbolic link",
             "Docs\\f6: Cannot create folder %O/Docs: it is a symbolic link",
             "Docs\\f7: Cannot create folder %O/Docs: it is a symbolic link",
             "Docs\\f8: Cannot create folder %O/Docs: it is a symbolic link"},
            {}, {"Docs"}, "Error"},
        // A folder that takes no new name (not writable) has its file replaced in place.
        Row{"replacing where the hidden name cannot be created",
            [](Rig& r) {
                r.scratch.WriteFile("out/Docs/f6", "old");
                r.faulty.Add({Kind::OpenWrite, ".corvane-restoring-", 0, Status::Code::AccessDenied});
            },
            {OverwriteAnswer::Yes}, AllBut({}), {}, {}, {}, "Extracted"},
        // Names the file system cannot hold come back under substitutes, and are said aloud.
        Row{"names the file system cannot hold",
            [](Rig& r) {
                r.files[1].name = "\x81\x8D\x8F\x90\x9D.doc";  // C1 controls under the Windows-1252 reading
                r.files[2].name = k140Latin1;
                r.files[3].name = "a/b.txt";
                r.files[4].name = "a\\b.txt";
            },
            {},
            [] {
                auto restored = AllBut({2, 3, 4, 5});
                restored["Docs/_____.doc"] = 2;
                restored["Docs/" + k140Cut] = 3;
                restored["Docs/a_b.txt"] = 4;
                restored["Docs/a_b (2).txt"] = 5;
                return restored;
            }(),
            {},
            {"Docs\\?????.doc -> %O/Docs/_____.doc", "Docs\\" + k140Shown + " -> %O/Docs/" + k140Cut,
             "Docs\\a/b.txt -> %O/Docs/a_b.txt", "Docs\\a\\b.txt -> %O/Docs/a_b (2).txt"},
            {}, "Extracted"},
        // Different stored names that come out as one local name: a substitute and a real
        // name, Latin-1 and UTF-8 spellings. The later file is numbered, never written over.
        Row{"names that come out as one",
            [](Rig& r) {
                r.files[1].name = "a\x81.txt";
                r.files[2].name = "a_.txt";
                r.files[3].name = "caf\xE9.txt";
                r.files[4].name = "café.txt";
                r.files[5].name = "a_ (2).txt";
            },
            {},
            [] {
                auto restored = AllBut({2, 3, 4, 5, 6});
                restored["Docs/a_.txt"] = 2;
                restored["Docs/a_ (2).txt"] = 3;
                restored["Docs/café.txt"] = 4;
                restored["Docs/café (2).txt"] = 5;
                restored["Docs/a_ (2) (2).txt"] = 6;
                return restored;
            }(),
            {},
            {"Docs\\a?.txt -> %O/Docs/a_.txt", "Docs\\a_.txt -> %O/Docs/a_ (2).txt",
             "Docs\\café.txt -> %O/Docs/café (2).txt", "Docs\\a_ (2).txt -> %O/Docs/a_ (2) (2).txt"},
            {}, "Extracted"},
        // FAT and exFAT refuse some characters; through FUSE they say there is no such file.
        Row{"names the destination refuses",
            [](Rig& r) {
                r.files[3].name = "why?.txt";
                r.files[4].name = "ab:c";
                r.faulty.Add({Kind::OpenWrite, "/Docs/why?", 0, Status::Code::InvalidArgument});
                r.faulty.Add({Kind::OpenWrite, "/Docs/ab:c", 0, Status::Code::NotFound});
            },
            {},
            [] {
                auto restored = AllBut({4, 5});
                restored["Docs/why_.txt"] = 4;
                restored["Docs/ab_c"] = 5;
                return restored;
            }(),
            {},
            {"Docs\\why?.txt -> %O/Docs/why_.txt", "Docs\\ab:c -> %O/Docs/ab_c"},
            {}, "Extracted"},
        Row{"an empty folder that cannot be made",
            [](Rig& r) {
                r.files.clear();
                r.faulty.Add({Kind::CreateFolder, "/Docs", 0, Status::Code::AccessDenied});
            },
            {}, {}, {"Docs: Injected fault on %O/Docs"}, {}, {}, "Error"}),
    [](const ::testing::TestParamInfo<Row>& row) { return test::TestNameOf(row.param.what); });

}  // namespace
}  // namespace corvane
