// Where a disc and its catalogue disagree, restore trusts neither silently: it restores what is
// whole where the catalogue, which a checksum guards, places it, and names the difference. The
// discs are a real three-disc backup; disc 1 is given as a folder of its files (a mounted disc)
// so that its streams can be damaged, disc 2 and 3 as images.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "archive/LittleEndian.h"
#include "support/PeerTools.h"
#include "support/RunningProgram.h"
#include "support/ScratchFolder.h"
#include "support/SpannedBackup.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;


// The stream file of a folder of the extracted disc 1 (0 the root, 1 Docs, 2 Docs/2008), made
// writable: files copied from a disc are read-only.
std::string StreamOf(const std::string& disc, int sequence) {
    for (const auto& entry : fs::directory_iterator(disc))
        if (entry.path().filename().string().ends_with(" " + std::to_string(sequence) + ".cvn")) {
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
            return entry.path();
        }
    ADD_FAILURE() << "no stream " << sequence << " in " << disc;
    return {};
}

void Patch(const std::string& path, std::size_t at, char byte) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at));
    file.put(byte);
}

// Zeroes the block holding the continuation of the Rock Ridge entries of the image's root
// folder (where its "ER" record lies): the Rock Ridge tree can no longer be read, Joliet can.
void ZeroRockRidgeContinuation(const std::string& image) {
    std::string bytes = test::ReadWholeFile(image);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::uint32_t root = GetU32(data + 16 * 2048 + 156 + 2);  // the primary descriptor's root
    const std::size_t entry = bytes.find(std::string("CE\x1c\x01", 4), std::size_t{root} * 2048);
    ASSERT_LT(entry, std::size_t{root + 1} * 2048) << "the root's Rock Ridge entries continue elsewhere";
    const std::uint32_t continuation = GetU32(data + entry + 4);
    std::fill_n(bytes.begin() + static_cast<long>(continuation) * 2048, 2048, '\0');
    std::ofstream(image, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(CatalogueDisagreement, WhatIsWholeIsRestoredWhereTheCatalogueSaysAndTheDifferenceIsNamed) {
    const test::SpannedBackup backup;
    const std::vector<std::string> everything = {"Docs/2008/a.bin", "Docs/r.txt", "Music/m.bin", "Video/v.bin",
                                                 "readme.txt"};
    struct Case {
        std::string what;
        std::function<void(const std::string& disc1, const std::string& disc2)> damage;
        std::vector<std::string> notBack;
        std::vector<std::string> said;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {"a flipped separator in a folder header",
         [](const std::string& disc1, const std::string&) { Patch(StreamOf(disc1, 1), 4, '\xa3'); },
         {},
         {": its folder header says \u00a3Docs; it is read as its catalogue describes it (the catalogue gives \\Docs)"},
         0},
        {"a flipped byte of an open folder's password field",
         [](const std::string& disc1, const std::string&) { Patch(StreamOf(disc1, 0), 4 + 1 + 3, 'x'); },
         {},
         {": its folder header says \\, protected; it is read as its catalogue describes it"},
         0},
        {"a stream cut after its header",
         [](const std::string& disc1, const std::string&) {
             fs::resize_file(StreamOf(disc1, 1), 4 + 5 + 16);  // "\Docs" and the password field
         },
         {"Docs/r.txt"},
         {"Docs\\r.txt: the stream ends before its record (it was cut short)"},
         1},
        {"a stream missing from a disc that was given",
         [](const std::string& disc1, const std::string&) { fs::remove(StreamOf(disc1, 2)); },
         {"Docs/2008/a.bin"},
         {" 2.cvn is missing from disc 1, which was given", "Docs\\2008\\a.bin is in "},
         1},
        {"a zeroed Rock Ridge block", [](const std::string&, const std::string& disc2) { ZeroRockRidgeContinuation(disc2); },
         {},
         {" is damaged: its Rock Ridge names could not be read, so its Joliet names were used"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder place, out;
        const std::string disc1 = place.MakeFolder("disc 1");
        test::ExtractWithXorriso(backup.images[0], disc1);
        backup.PlaceWith(place, {2, 3});
        const std::string disc2 = place / fs::path(backup.images[1]).filename().string();
        const std::string disc3 = place / fs::path(backup.images[2]).filename().string();
        c.damage(disc1, disc2);
        test::RunningProgram run({"restore", disc1, disc2, disc3, "--to", out.path()}, {});
        const int exitCode = run.Finish();
        const std::string& err = run.output();
        for (const std::string& file : everything) {
            const bool lost = std::find(c.notBack.begin(), c.notBack.end(), file) != c.notBack.end();
            EXPECT_EQ(fs::exists(out / file), !lost) << file << "\n" << err;
            if (!lost) {
                EXPECT_TRUE(test::ReadWholeFile(out / file) == backup.files.at(file)) << file;
            }
        }
        for (const std::string& line : c.said) EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
        EXPECT_EQ(exitCode, c.exitCode) << err;
    }
}

}  // namespace
}  // namespace corvane
