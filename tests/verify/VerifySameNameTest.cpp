// Two backups of one drive made in the same minute share their name (two image folders): their
// discs are told apart by the time their catalogues record, never taken for one set.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/ProgramPayload.h"
#include "support/RunningProgram.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::RunningProgram;
using test::ScratchFolder;

// The disc images in folder, disc 1 first.
std::vector<std::string> Images(const ScratchFolder& folder) {
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(folder.path())) images.push_back(entry.path().string());
    std::sort(images.begin(), images.end());
    return images;
}

TEST(VerifySameName, DiscsOfTwoBackupsOfOneNameAreTwoSets) {
    ScratchFolder source, tmp, first, second;
    source.WriteFile("Alpha/a.bin", test::SampleBytes(200000, 1));
    source.WriteFile("Beta/b.bin", test::SampleBytes(200000, 2));
    const std::string capacity = std::to_string(test::ProgramPayloadSize() + 250 * 1024);
    auto backUp = [&](const ScratchFolder& discs) {
        for (const std::string& image : Images(discs)) fs::remove(image);
        RunningProgram backup({"backup", source.path(), "--images", discs.path(), "--capacity", capacity, "--yes"},
                              {tmp.path()});
        EXPECT_EQ(backup.Finish(), 0) << backup.output();
    };
    // Both in one minute, a second apart: a minute that turned between them is tried again.
    std::vector<std::string> a, b;
    for (int attempt = 0; attempt < 3; ++attempt) {
        backUp(first);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        backUp(second);
        a = Images(first);
        b = Images(second);
        if (a.size() == 2 && b.size() == 2 && fs::path(a[0]).filename() == fs::path(b[0]).filename()) break;
    }
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    ASSERT_EQ(fs::path(a[0]).filename(), fs::path(b[0]).filename());

    // Disc 1 of one and disc 2 of the other: each set misses a disc, and the sets are named apart.
    RunningProgram mixed({"verify", a[0], b[1]}, {tmp.path()});
    EXPECT_EQ(mixed.Finish(), 1) << mixed.output();
    for (const char* said : {"2 discs, missing: disc 1", "at least 2 discs, missing: disc 2", " made at "})
        EXPECT_NE(mixed.output().find(said), std::string::npos) << said << "\n" << mixed.output();

    // Both whole: two complete sets.
    RunningProgram both({"verify", first.path(), second.path()}, {tmp.path()});
    EXPECT_EQ(both.Finish(), 0) << both.output();
    std::size_t complete = 0;
    for (std::size_t at = 0; (at = both.output().find("2 discs, all given", at)) != std::string::npos; ++at) ++complete;
    EXPECT_EQ(complete, 2u) << both.output();
}

}  // namespace
}  // namespace corvane
