// Which catalogue of a backup is trusted: the whole one that describes the most discs, and
// only one whose every stream belongs to its backup and lies on a disc it describes.

#include <gtest/gtest.h>

#include "archive/SetCatalogueWriter.h"
#include "restore/KnownSet.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

// A catalogue of one stream, written under fileName; discs is how many discs it describes.
std::string WriteCatalogue(const test::ScratchFolder& folder, const std::string& fileName, const std::string& backup,
                           const CatalogueStream& stream, std::uint32_t discs) {
    SetCatalogueWriter writer(backup, 1230000000);
    writer.AddStream(stream, {{"a.txt", 30, 1, 0, 0, {}}});
    return folder.WriteFile(fileName, writer.Bytes(discs));
}

TEST(KnownSet, OnlyACatalogueTrueToItsBackupIsUsed) {
    struct Case {
        const char* what;
        std::string fileName;
        CatalogueStream stream;
        std::uint32_t discs;
        std::string problem;  // "" when the catalogue is used
    };
    const std::vector<Case> cases = {
        {"whole", "DATA 0812251430.catalog", {"DATA 0812251430 0.cvn", 0, 1, "\\", false, 5, {}}, 1, ""},
        {"renamed", "OTHER 0901011200.catalog", {"DATA 0812251430 0.cvn", 0, 1, "\\", false, 5, {}}, 1,
         "it is the catalogue of another backup (DATA 0812251430)"},
        {"foreign stream", "DATA 0812251430.catalog", {"OTHER 0901011200 0.cvn", 0, 1, "\\", false, 5, {}}, 1,
         "it names a stream that is not of its backup (OTHER 0901011200 0.cvn)"},
        {"wrong number", "DATA 0812251430.catalog", {"DATA 0812251430 3.cvn", 0, 1, "\\", false, 5, {}}, 1,
         "it names a stream that is not of its backup (DATA 0812251430 3.cvn)"},
        {"disc beyond it", "DATA 0812251430.catalog", {"DATA 0812251430 0.cvn", 0, 2, "\\", false, 5, {}}, 1,
         "it places DATA 0812251430 0.cvn on a disc it does not describe"},
        {"disc 0", "DATA 0812251430.catalog", {"DATA 0812251430 0.cvn", 0, 0, "\\", false, 5, {}}, 1,
         "it places DATA 0812251430 0.cvn on a disc it does not describe"},
    };
    for (const Case& c : cases) {
        test::ScratchFolder folder;
        const std::string path = WriteCatalogue(folder, c.fileName, "DATA 0812251430", c.stream, c.discs);
        std::vector<std::string> problems;
        const std::vector<KnownSet> sets = ReadNewestCatalogues(DefaultFileSystem(), {path}, problems);
        if (c.problem.empty()) {
            EXPECT_TRUE(problems.empty()) << c.what;
            ASSERT_EQ(sets.size(), 1u) << c.what;
            EXPECT_EQ(sets[0].streams.at(0).files.at(0).name, "a.txt");
        } else {
            EXPECT_TRUE(sets.empty()) << c.what;
            ASSERT_EQ(problems.size(), 1u) << c.what;
            EXPECT_NE(problems[0].find(c.problem + "; the streams are read without it"), std::string::npos)
                << c.what << ": " << problems[0];
        }
    }
}

// Of two whole catalogues of a backup, the one of the later disc is kept, in either order;
// a window that reads an earlier disc later keeps what the later one told it.
TEST(KnownSet, TheCatalogueOfTheLaterDiscIsKept) {
    test::ScratchFolder one, two;
    const std::string early = WriteCatalogue(one, "DATA 0812251430.catalog", "DATA 0812251430",
                                             {"DATA 0812251430 0.cvn", 0, 1, "\\", false, 5, {}}, 1);
    const std::string late = WriteCatalogue(two, "DATA 0812251430.catalog", "DATA 0812251430",
                                            {"DATA 0812251430 0.cvn", 0, 1, "\\", false, 5, {}}, 2);
    for (const auto& order : {std::vector<std::string>{early, late}, std::vector<std::string>{late, early}}) {
        std::vector<std::string> problems;
        const std::vector<KnownSet> sets = ReadNewestCatalogues(DefaultFileSystem(), order, problems);
        ASSERT_EQ(sets.size(), 1u);
        EXPECT_EQ(sets[0].backup.discs, 2u);
    }
    std::vector<std::string> problems;
    std::vector<KnownSet> known = ReadNewestCatalogues(DefaultFileSystem(), {late}, problems);
    KeepNewest(known, ReadNewestCatalogues(DefaultFileSystem(), {early}, problems));
    ASSERT_EQ(known.size(), 1u);
    EXPECT_EQ(known[0].backup.discs, 2u);
}

// A damaged catalogue of a later disc is named, and the whole one of an earlier disc is used.
TEST(KnownSet, AnEarlierCatalogueStandsInForADamagedLaterOne) {
    test::ScratchFolder one, two;
    const std::string early = WriteCatalogue(one, "DATA 0812251430.catalog", "DATA 0812251430",
                                             {"DATA 0812251430 0.cvn", 0, 1, "\\", false, 5, {}}, 1);
    SetCatalogueWriter writer("DATA 0812251430", 1230000000);
    writer.AddStream({"DATA 0812251430 0.cvn", 0, 1, "\\", false, 5, {}}, {});
    writer.AddStream({"DATA 0812251430 1.cvn", 1, 2, "\\Docs", false, 5, {}}, {});
    std::string bytes = writer.Bytes(2);
    bytes[bytes.size() - 3] ^= 0x10;  // in its checksum
    const std::string late = two.WriteFile("DATA 0812251430.catalog", bytes);
    std::vector<std::string> problems;
    const std::vector<KnownSet> sets = ReadNewestCatalogues(DefaultFileSystem(), {late, early}, problems);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].backup.discs, 1u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], late + " was not used: The catalogue is damaged: its checksum does not match; the streams "
                                  "are read without it");
}

}  // namespace
}  // namespace corvane
