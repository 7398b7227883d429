#include <gtest/gtest.h>

#include "disc/ImageFileName.h"
#include "support/ScratchFolder.h"

namespace corvane::test {
namespace {

TEST(ImageFileName, TheDiscsOfABackupAreFoundBesideOneOfThemInDiscOrder) {
    ScratchFolder folder;
    for (const char* name : {"My Stick 2612101430 disc 10.iso", "My Stick 2612101430 disc 02.iso",
                             "My Stick 2612101430 disc 01.iso", "My Stick 2612101431 disc 01.iso",
                             "My Stick 2612101430 disc 3.iso.part", "My Stick 2612101430 disc x1.iso",
                             "holiday.iso"})
        folder.WriteFile(name, "");
    const auto at = [&](const char* name) { return folder / name; };
    const std::vector<std::string> set = {at("My Stick 2612101430 disc 01.iso"),
                                          at("My Stick 2612101430 disc 02.iso"),
                                          at("My Stick 2612101430 disc 10.iso")};
    struct Row {
        const char* given;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"My Stick 2612101430 disc 02.iso", set},
        {"My Stick 2612101430 disc 10.iso", set},
        {"My Stick 2612101431 disc 01.iso", {at("My Stick 2612101431 disc 01.iso")}},
        {"holiday.iso", {at("holiday.iso")}},                          // not a disc's name: alone
        {"Other 2612101430 disc 01.iso", {at("Other 2612101430 disc 01.iso")}},  // absent: as given
    };
    for (const Row& row : rows) EXPECT_EQ(DiscImagesOfItsBackup(at(row.given)), row.expected) << row.given;
}

}  // namespace
}  // namespace corvane::test
