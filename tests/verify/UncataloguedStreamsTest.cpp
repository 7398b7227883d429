// Streams without a catalogue, as another program writes them, verify as far as the format
// allows: the layout is whole and every chunk decodes; damage there is still found.

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>

#include "support/ScratchFolder.h"
#include "verify/DiscVerifier.h"

namespace corvane {
namespace {

// A writer of the stream format of its own: zlib at its best level (not ours), and the
// scrambling done here from the format's description.
std::string U32(std::uint32_t v) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return bytes;
}

std::string Chunk(const std::string& piece) {
    uLongf length = compressBound(piece.size());
    std::string chunk(length, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(chunk.data()), &length,
                        reinterpret_cast<const Bytef*>(piece.data()), piece.size(), 9),
              Z_OK);
    chunk.resize(length);
    int step = static_cast<int>(length);
    while (step >= 256) step -= step / 3;
    for (std::size_t at = 0; at < chunk.size(); at += static_cast<std::size_t>(step))
        chunk[at] = static_cast<char>(static_cast<unsigned char>(chunk[at]) + step);
    return U32(static_cast<std::uint32_t>(chunk.size())) + chunk;
}

std::string Record(const std::string& name, const std::string& content) {
    std::string chunks;
    for (std::size_t at = 0; at < content.size(); at += 4096) chunks += Chunk(content.substr(at, 4096));
    return U32(static_cast<std::uint32_t>(name.size())) + name + U32(static_cast<std::uint32_t>(chunks.size())) +
           std::string(16, '\x01') + chunks;
}

std::string Stream(const std::string& folder, const std::string& records) {
    return U32(static_cast<std::uint32_t>(folder.size())) + folder + std::string(16, ' ') + records;
}

const std::string kReport = Record("report.txt", test::SampleBytes(10000, 7));
const std::string kStreams[] = {
    Stream("\\", Record("a.txt", "alpha") + kReport),
    Stream("\\Docs", Record("b.bin", test::SampleBytes(9000, 8))),
};

struct Case {
    const char* what;
    std::string second;         // the second stream's bytes
    const char* secondName;     // its file name
    const char* named;          // what the damage names, or null for none
};

TEST(UncataloguedStreams, VerifyAsFarAsTheFormatAllows) {
    std::string damagedChunk = kStreams[0];
    damagedChunk[damagedChunk.size() - 50] ^= 0x40;
    const std::vector<Case> cases = {
        {"whole", kStreams[1], "OTHER 0901011200 1.cvn", nullptr},
        {"a chunk that does not decode", damagedChunk, "OTHER 0901011200 1.cvn", "report.txt"},
        {"cut short", kStreams[1].substr(0, kStreams[1].size() - 100), "OTHER 0901011200 1.cvn", "b.bin"},
        {"a stream missing between", kStreams[1], "OTHER 0901011200 2.cvn", "stream 1 of OTHER 0901011200"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder disc;
        disc.WriteFile("OTHER 0901011200 0.cvn", kStreams[0]);
        disc.WriteFile(c.secondName, c.second);
        const VerifyReport report = VerifyPlaces(DefaultFileSystem(), {disc.path()}, nullptr, {});
        ASSERT_EQ(report.discs.size(), 1u);
        const DiscReport& found = report.discs[0];
        EXPECT_NE(found.checkedAs.find("without a catalogue"), std::string::npos) << found.checkedAs;
        EXPECT_EQ(found.streams, 2u);
        ASSERT_EQ(report.sets.size(), 1u);
        EXPECT_EQ(report.sets[0].discs, 0u) << "no catalogue knows the set";
        EXPECT_EQ(report.good(), c.named == nullptr);
        if (!c.named) {
            EXPECT_EQ(found.files, 3u);
            continue;
        }
        std::string said;
        for (const DiscDamage& damage : found.damage) said += damage.stream + " | " + damage.file + " | " + damage.why + "\n";
        for (const std::string& problem : report.sets[0].problems) said += problem + "\n";
        EXPECT_NE(said.find(c.named), std::string::npos) << said;
    }
}

}  // namespace
}  // namespace corvane
