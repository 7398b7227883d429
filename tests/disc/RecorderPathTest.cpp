#include <gtest/gtest.h>

#include "disc/RecorderPath.h"

namespace corvane {
namespace {

TEST(RecorderPath, ImageRecorderPathsRoundTripAndOthersAreRefused) {
    ImageRecorderPath in{"DVD", 4700372992ull, "/home/u/Corvane Discs: old:new"};
    ImageRecorderPath out;
    ASSERT_TRUE(ParseImageRecorderPath(MakeImageRecorderPath(in), out));
    EXPECT_EQ(out.medium, in.medium);
    EXPECT_EQ(out.capacity, in.capacity);
    EXPECT_EQ(out.folder, in.folder) << "colons in the folder survive";

    for (const char* bad : {"/dev/sr0", "image:", "image:DVD", "image:DVD:12", "image::12:/x", "image:CD::/x",
                            "image:CD:0:/x", "image:CD:1x:/x", "image:CD:99999999999999999999999:/x"}) {
        EXPECT_FALSE(ParseImageRecorderPath(bad, out)) << bad;
    }
}

}  // namespace
}  // namespace corvane
