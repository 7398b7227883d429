// What a disc accepts always fits it: a sweep over capacities and trees, spanning discs as a
// backup does, measured by the exact size of the image as it is recorded.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "disc/DiscImage.h"
#include "disc/DiscPayload.h"
#include "disc/IsoBurn.h"
#include "support/ScratchFolder.h"

namespace corvane::test {
namespace {

// One backup spanning discs of many capacities: the programs every disc carries, the streams its
// folders give (by size) under its label, and the capacities tried. The label sets the length
// of the stream names, and so the size of their directory records.
struct Sweep {
    const char* name;
    std::uint64_t programSize;
    std::string label;
    std::vector<std::uint64_t> streams;
    std::uint64_t firstCapacity;
    std::uint64_t step;  // no multiple of a block: each disc ends at another place
    int capacities;
    // Each disc is closed by a catalogue that the streams keep room for. Not where the
    // capacities leave no room beside the largest streams.
    bool closedByCatalogue = true;
};

// The restorer beside the program, kept small so that each sweep keeps the room its
// capacities were chosen for; its directory records count all the same.
constexpr std::size_t kRestorerSize = 3000;

std::vector<Sweep> Sweeps() {
    const std::string longLabel = "Sticks of a rather long name for testing";
    std::uint32_t state = 12345;
    auto next = [&state](std::uint32_t below) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % below;
    };
    std::vector<std::uint64_t> small, mixed;
    for (int i = 0; i < 400; ++i) small.push_back(1 + next(3000));
    for (int i = 0; i < 150; ++i) mixed.push_back(i % 7 == 0 ? 25 : next(200000));
    return {
        // As reported: a file that adds a block to both the ISO 9660 and the Joliet directory
        // took the disc past 2699700 and 2700697 bytes.
        {"700 empty folders", 1297376, longLabel, std::vector<std::uint64_t>(700, 25), 2699700, 997, 10},
        {"many small files", 60000, longLabel, small, 160000, 3083, 40},
        {"mixed", 60000, "Stick \xc3\x9c" "bung", mixed, 350000, 20011, 40, false},
    };
}

// Each stream is a file of its own, as in a backup: the image stores the content of hard links
// to one file only once.
std::string StreamFile(const Sweep& sweep, std::size_t index) {
    return std::string("streams/") + sweep.name + "/" + std::to_string(index);
}

// Backs up the streams onto discs of this capacity, as the backup does: the payload first on
// every disc, the next disc when one is full. Every disc must come out within the capacity.
void SpanDiscs(const ScratchFolder& scratch, const Sweep& sweep, std::uint64_t capacity) {
    const MediumLimits limits{capacity, 0};
    const StagedFile payload[] = {{"corvane.exe", scratch / "program", true, true},
                                  {"autorun.inf", scratch / "autorun", true},
                                  {"corvane-restore", scratch / "restorer", true, true},
                                  {"autorun.sh", scratch / "autorun.sh", true, true}};
    const std::string staging = scratch / "discs";
    auto newDisc = [&] {
        auto disc = std::make_unique<DiscImage>(staging);
        for (const auto& file : payload) EXPECT_TRUE(disc->Add(file, false, limits).ok()) << file.name;
        return disc;
    };
    // The catalogue closes every disc: each stream keeps room for it as it grows, and it must
    // then always fit.
    std::uint64_t catalogueSize = 0;
    auto closeAndCheck = [&](DiscImage& disc) {
        if (sweep.closedByCatalogue) {
            const std::string catalogue = scratch.WriteFile("catalogue", std::string(catalogueSize, 'c'));
            Status closed = disc.Add({sweep.label + " 2612101743.catalog", catalogue}, false, limits);
            ASSERT_TRUE(closed.ok()) << closed.message();
        }
        std::uint64_t size = 0;
        ASSERT_TRUE(disc.ExactSize(limits.tailBlocks, size).ok());
        EXPECT_LE(size, capacity) << disc.names().size() << " files";
    };
    auto disc = newDisc();
    int discs = 1;
    for (std::size_t i = 0; i < sweep.streams.size(); ++i) {
        // Sizes on either side of block boundaries; real catalogues only grow, but these discs
        // are too small for one that grows with 700 streams.
        const std::uint64_t withThis = sweep.closedByCatalogue ? 200 + i * 613 % 2500 : 0;
        const StagedFile stream{sweep.label + " 2612101743 " + std::to_string(i) + ".cvn",
                                scratch / StreamFile(sweep, i), false, false, withThis};
        Status added = disc->Add(stream, false, limits);
        if (added.code() == Status::Code::NoSpace) {
            closeAndCheck(*disc);
            if (::testing::Test::HasFatalFailure()) return;
            disc = newDisc();
            ++discs;
            added = disc->Add(stream, false, limits);
        }
        ASSERT_TRUE(added.ok()) << stream.name << " of " << sweep.streams[i] << " bytes, disc " << discs
                                << ": " << added.message();
        catalogueSize = withThis;
    }
    closeAndCheck(*disc);
}

TEST(DiscCapacity, WhatADiscAcceptsFitsItAtEveryCapacity) {
    for (const Sweep& sweep : Sweeps()) {
        ScratchFolder scratch;
        scratch.WriteFile("program", std::string(sweep.programSize, 'p'));
        scratch.WriteFile("restorer", std::string(kRestorerSize, 'r'));
        scratch.WriteFile("autorun", kAutorunText);
        scratch.WriteFile("autorun.sh", kAutorunScript);
        scratch.MakeFolder("discs");
        for (std::size_t i = 0; i < sweep.streams.size(); ++i)
            scratch.WriteFile(StreamFile(sweep, i), std::string(sweep.streams[i], 's'));
        for (int step = 0; step < sweep.capacities; ++step) {
            const std::uint64_t capacity = sweep.firstCapacity + step * sweep.step;
            SCOPED_TRACE(std::string(sweep.name) + ", capacity " + std::to_string(capacity));
            SpanDiscs(scratch, sweep, capacity);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

// The measured size is the size of the image as written, MD5 checksums included. Their array
// takes a block for every 128 files (counting two more for the session and the array): the
// counts around those steps, empty files among them.
TEST(DiscCapacity, MeasuredSizeIsWhatTheWriterProduces) {
    for (int files : {0, 1, 125, 126, 127, 254, 255, 400}) {
        SCOPED_TRACE(std::to_string(files) + " files");
        ScratchFolder scratch;
        DiscImage disc(scratch.MakeFolder("discs"));
        const MediumLimits limits{64 * 1024 * 1024, 0};
        for (int i = 0; i < files; ++i) {
            const std::string path = scratch.WriteFile(std::to_string(i), std::string(i % 3 * 700, 'c'));
            ASSERT_TRUE(disc.Add({"DATA 0812251430 " + std::to_string(i) + ".cvn", path}, false, limits).ok());
        }
        for (std::uint32_t tail : {0u, 150u}) {
            std::uint64_t measured = 0;
            ASSERT_TRUE(disc.ExactSize(tail, measured).ok());
            ::burn_source* source = nullptr;
            ASSERT_TRUE(disc.CreateBurnSource(tail, false, source).ok());
            burn::burn_source* reader = AsBurn(source);
            unsigned char block[2048];
            std::uint64_t written = 0;
            for (int got; (got = reader->read_xt(reader, block, sizeof block)) > 0;) written += got;
            burn::burn_source_free(reader);
            EXPECT_EQ(measured, written) << "tail " << tail;
        }
    }
}

// A stream that does not fit beside the program is too large for every disc: it never closes
// the disc it was offered to, which would leave a disc holding only the program.
TEST(DiscCapacity, TooLargeCountsThePayload) {
    ScratchFolder scratch;
    const std::string program = scratch.WriteFile("program", std::string(150000, 'p'));
    const std::string stream = scratch.WriteFile("stream", std::string(300000, 's'));
    const std::string small = scratch.WriteFile("small", std::string(1000, 's'));
    const MediumLimits limits{150000 + 300000, 0};  // the stream alone fits an empty disc
    DiscImage disc(scratch.MakeFolder("discs"));
    ASSERT_TRUE(disc.Add({"corvane.exe", program, true}, false, limits).ok());
    Status refused = disc.Add({"DATA 0812251430 0.cvn", stream}, false, limits);
    EXPECT_EQ(refused.code(), Status::Code::TooLarge) << refused.message();
    ASSERT_TRUE(disc.Add({"DATA 0812251430 0.cvn", small}, false, limits).ok());
    refused = disc.Add({"DATA 0812251430 1.cvn", stream}, false, limits);
    EXPECT_EQ(refused.code(), Status::Code::TooLarge) << "not NoSpace: " << refused.message();
    EXPECT_EQ(disc.names(), (std::vector<std::string>{"corvane.exe", "DATA 0812251430 0.cvn"}));
}

}  // namespace
}  // namespace corvane::test
