#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>

#include "CorpusContent.h"

namespace corvane::bench {
namespace {

// zlib's output at the default level as a share of its input.
double CompressedShare(const std::string& bytes) {
    uLongf length = compressBound(static_cast<uLong>(bytes.size()));
    std::string out(length, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(bytes.data()),
                       static_cast<uLong>(bytes.size())),
              Z_OK);
    return static_cast<double>(length) / static_cast<double>(bytes.size());
}

struct Kind {
    const char* name;
    std::function<std::string(ContentMaker&, std::size_t)> make;
    double lowestShare, highestShare;  // what the benchmark's mix relies on
};

const Kind kKinds[] = {
    {"prose", [](ContentMaker& m, std::size_t n) { return m.Prose(n); }, 0.25, 0.55},
    {"source", [](ContentMaker& m, std::size_t n) { return m.SourceCode(n); }, 0.2, 0.5},
    {"log", [](ContentMaker& m, std::size_t n) { return m.LogLines(n); }, 0.2, 0.5},
    {"records", [](ContentMaker& m, std::size_t n) { return m.Records(n); }, 0.3, 0.6},
    {"compressed", [](ContentMaker& m, std::size_t n) { return m.Compressed(n); }, 0.98, 1.01},
    {"noise", [](ContentMaker& m, std::size_t n) { return m.Noise(n); }, 0.99, 1.01},
    {"mixed, all noise", [](ContentMaker& m, std::size_t n) { return m.Mixed(n, 100); }, 0.99, 1.01},
    {"mixed, no noise", [](ContentMaker& m, std::size_t n) { return m.Mixed(n, 0); }, 0.25, 0.6},
};

TEST(CorpusContent, EveryKindHasTheAskedSizeAndCompressesLikeTheFilesItStandsFor) {
    for (const std::size_t size : {std::size_t{1}, std::size_t{4097}, std::size_t{3} << 20}) {
        for (const auto& kind : kKinds) {
            ContentMaker maker(11);
            const std::string bytes = kind.make(maker, size);
            ASSERT_EQ(bytes.size(), size) << kind.name;
            if (size < 4096) continue;
            const double share = CompressedShare(bytes);
            EXPECT_GE(share, kind.lowestShare) << kind.name << ", " << size << " bytes";
            EXPECT_LE(share, kind.highestShare) << kind.name << ", " << size << " bytes";
        }
    }
}

TEST(CorpusContent, SameSeedGivesTheSameBytesAnotherSeedOthers) {
    for (const auto& kind : kKinds) {
        ContentMaker first(5), again(5), other(6);
        const std::string bytes = kind.make(first, 100'000);
        EXPECT_EQ(bytes, kind.make(again, 100'000)) << kind.name;
        EXPECT_NE(bytes, kind.make(other, 100'000)) << kind.name;
        // Later content differs from earlier content of the same maker: no repeated block.
        EXPECT_NE(bytes, kind.make(first, 100'000)) << kind.name;
    }
}

}  // namespace
}  // namespace corvane::bench
