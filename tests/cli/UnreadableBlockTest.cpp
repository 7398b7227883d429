// A scratched disc: one 2 KiB block that the drive cannot read, at many places over every
// disc of a three-disc backup (volume descriptors, folders, the catalogue, stream headers,
// records and chunks). Each restore brings back every file whose bytes do not lie on that
// block, byte for byte, names each file it does not bring back, and exits 0 only when nothing
// was lost. The program runs with a preloaded library that fails reads of that block with EIO.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/LittleEndian.h"
#include "support/PeerTools.h"
#include "support/ProgramPayload.h"
#include "support/RunningProgram.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
constexpr std::uint64_t kBlock = 2048;

struct ProgramRun {
    int exitCode = -1;
    std::string err;
};

// The program, reading discs whose listed blocks fail.
ProgramRun Corvane(const std::vector<std::string>& args, const std::string& image = {}, std::uint64_t badBlock = 0) {
    test::RunningProgram::Options options;
    if (!image.empty()) {
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        options.environment = {"LD_PRELOAD=" UNREADABLE_BLOCKS_LIBRARY,
                               "CORVANE_TEST_UNREADABLE=" + image + "\t" + std::to_string(badBlock),
                               // A sanitized program accepts a library loaded before its runtime.
                               "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + ":verify_asan_link_order=0"};
    }
    test::RunningProgram program(args, options);
    const int status = program.Finish();
    return {status, program.output()};
}

// Where a backed-up file lies: the blocks of its record in its disc's image.
struct Placed {
    std::string shown;  // as restore names it: "Small\f1.txt", "\readme.txt"
    std::string image;
    std::set<std::uint64_t> blocks;
};

// The files of the streams of an image, each with the blocks its record takes, read from the
// image's bytes where xorriso places the streams.
void PlaceFiles(const std::string& image, std::map<std::string, Placed>& files, std::set<std::uint64_t>& streamBlocks) {
    const std::string bytes = test::ReadWholeFile(image);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (const auto& [name, extent] : test::FileExtents(image)) {
        if (!name.ends_with(".cvn")) continue;
        const std::uint64_t start = std::uint64_t{extent.block} * kBlock;
        for (std::uint64_t block = extent.block; block * kBlock < start + extent.size; ++block) streamBlocks.insert(block);
        std::uint64_t at = start;
        const std::uint32_t pathLength = GetU32(data + at);
        std::string folder = bytes.substr(at + 5, pathLength - 1);  // without its leading '\'
        std::replace(folder.begin(), folder.end(), '\\', '/');
        at += 4 + pathLength + 16;
        while (at < start + extent.size) {
            const std::uint64_t recordStart = at;
            const std::uint32_t nameLength = GetU32(data + at);
            const std::string fileName = bytes.substr(at + 4, nameLength);
            at += 4 + nameLength;
            at += 4 + 16 + GetU32(data + at);
            const std::string path = folder.empty() ? fileName : folder + "/" + fileName;
            Placed& placed = files[path];
            placed.image = image;
            placed.shown = folder.empty() ? "\\" + fileName : path;
            std::replace(placed.shown.begin(), placed.shown.end(), '/', '\\');
            for (std::uint64_t block = recordStart / kBlock; block <= (at - 1) / kBlock; ++block) placed.blocks.insert(block);
        }
    }
}

class UnreadableBlock : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        source_ = new test::ScratchFolder;
        discs_ = new test::ScratchFolder;
        // Many small files in one folder, a few files of many chunks, and a file at the root.
        for (int i = 1; i <= 80; ++i)
            source_->WriteFile("Small/f" + std::to_string(i) + ".txt", test::SampleBytes(600 + 97 * i, i));
        for (int i = 1; i <= 3; ++i) source_->WriteFile("Docs/d" + std::to_string(i) + ".bin", test::SampleBytes(70000, 100 + i));
        source_->WriteFile("Media/m.bin", test::SampleBytes(150000, 7));
        source_->WriteFile("readme.txt", "hello");
        const ProgramRun backup = Corvane({"backup", source_->path(), "--images", discs_->path(), "--capacity",
                                           std::to_string(test::ProgramPayloadSize() + 330000), "--yes"});
        ASSERT_EQ(backup.exitCode, 0) << backup.err;
    }
    static void TearDownTestSuite() {
        delete source_;
        delete discs_;
    }

    static test::ScratchFolder* source_;
    static test::ScratchFolder* discs_;
};

test::ScratchFolder* UnreadableBlock::source_ = nullptr;
test::ScratchFolder* UnreadableBlock::discs_ = nullptr;

TEST_F(UnreadableBlock, CostsOnlyTheFilesOnItEachNamed) {
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(discs_->path())) images.push_back(fs::canonical(entry.path()));
    std::sort(images.begin(), images.end());
    ASSERT_EQ(images.size(), 3u) << "the backup spans three discs";
    std::map<std::string, Placed> files;
    std::map<std::string, std::set<std::uint64_t>> streamBlocks;
    for (const std::string& image : images) PlaceFiles(image, files, streamBlocks[image]);
    ASSERT_EQ(files.size(), 85u);

    for (const std::string& image : images) {
        // The volume descriptors and the folders (Rock Ridge and Joliet) lie at the start; the
        // catalogue, the programs and every block of the streams after them.
        std::set<std::uint64_t> sweep, catalogue;
        for (std::uint64_t block = 16; block < 28; ++block) sweep.insert(block);
        for (const auto& [name, extent] : test::FileExtents(image)) {
            sweep.insert(extent.block);
            if (name.ends_with(".catalog")) catalogue.insert(extent.block);
        }
        const std::vector<std::uint64_t> inStreams(streamBlocks[image].begin(), streamBlocks[image].end());
        for (std::size_t i = 0; i < inStreams.size(); i += std::max<std::size_t>(1, inStreams.size() / 12))
            sweep.insert(inStreams[i]);
        sweep.insert(inStreams.back());
        for (std::uint64_t bad : sweep) {
            SCOPED_TRACE(fs::path(image).filename().string() + ", block " + std::to_string(bad));
            test::ScratchFolder out;
            const ProgramRun restore = Corvane({"restore", discs_->path(), "--to", out.path()}, image, bad);
            // Verify names the same files, and any disc with a block it cannot read is damaged.
            const bool inStream = streamBlocks[image].count(bad) > 0;
            const ProgramRun verify = inStream ? Corvane({"verify", discs_->path()}, image, bad) : ProgramRun{};
            if (inStream) {
                EXPECT_EQ(verify.exitCode, 1) << verify.err;
            }
            bool allBack = true;
            for (const auto& [path, placed] : files) {
                const bool onBadBlock = placed.image == image && placed.blocks.count(bad);
                const bool back = fs::exists(out / path);
                if (back) {
                    EXPECT_EQ(test::ReadWholeFile(out / path), test::ReadWholeFile(source_->path() + "/" + path)) << path;
                } else {
                    EXPECT_TRUE(onBadBlock) << path << " does not lie on the block\n" << restore.err;
                    EXPECT_NE(restore.err.find(placed.shown + ": "), std::string::npos) << placed.shown << " is not named\n"
                                                                                       << restore.err;
                    if (inStream) {
                        EXPECT_NE(verify.err.find(" " + fs::path(path).filename().string() + " "), std::string::npos)
                            << path << " is not named by verify\n"
                            << verify.err;
                    }
                }
                allBack = allBack && back;
            }
            // The newest catalogue, which is read, is told as a problem when it cannot be read, even
            // when every file came back; older ones are not needed.
            const bool newestCatalogue = image == images.back() && catalogue.count(bad);
            EXPECT_EQ(restore.exitCode, allBack && !newestCatalogue ? 0 : 1) << restore.err;
        }
    }
}

}  // namespace
}  // namespace corvane
