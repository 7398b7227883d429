// The decision about a medium before a disc is recorded on it, for every kind of medium libburn
// knows, blank, written, unformatted, holding a volume, holding a volume of the backup itself.

#include "disc/MediaDecision.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace corvane {
namespace {

constexpr const char* kBackup = "STICK 0812251430";

enum Profile : int {
    CdRom = 0x08, CdR = 0x09, CdRw = 0x0a, DvdRom = 0x10, DvdR = 0x11, DvdRam = 0x12,
    DvdRwOverwrite = 0x13, DvdRwSequential = 0x14, DvdRDl = 0x15, DvdPlusRw = 0x1a,
    DvdPlusR = 0x1b, DvdPlusRDl = 0x2b, BdRom = 0x40, BdR = 0x41, BdRe = 0x43, StdioFile = 0xffff
};

struct Row {
    const char* what;
    MediumState medium;
    MediaAction action;
    bool blankFirst;
    const char* reasonHas;  // a part of the reason; "" when none is expected
};

const std::string kOther = "HOLIDAY PHOTOS";
const std::string kOurs = kBackup;

std::vector<Row> Rows() {
    using S = DiscState;
    using A = MediaAction;
    return {
        {"no disc", {CdR, S::Empty, false, false, {}, {}}, A::Refuse, false, "no disc"},
        {"unusable disc", {DvdR, S::Unusable, false, false, {}, {}}, A::Refuse, false, "cannot use"},
        {"unusable disc, as the drive explains",
         {DvdR, S::Unusable, false, false, {}, "SORRY: Drive is busy"}, A::Refuse, false,
         "cannot use this disc; it may be damaged or of an unknown kind. The drive says: SORRY: Drive is busy"},
        {"CD-ROM", {CdRom, S::Full, false, false, kOther, {}}, A::Refuse, false, "read-only"},
        {"DVD-ROM", {DvdRom, S::Full, false, false, {}, {}}, A::Refuse, false, "read-only"},
        {"BD-ROM", {BdRom, S::Full, false, false, {}, {}}, A::Refuse, false, "read-only"},
        // Write-once media: blank is written, anything written is refused.
        {"blank CD-R", {CdR, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"appendable CD-R", {CdR, S::Appendable, false, false, kOther, {}}, A::Refuse, false, "cannot be erased"},
        {"closed CD-R", {CdR, S::Full, false, false, {}, {}}, A::Refuse, false, "cannot be erased"},
        {"blank DVD-R", {DvdR, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"closed DVD-R", {DvdR, S::Full, false, false, kOther, {}}, A::Refuse, false, kOther.c_str()},
        {"blank DVD-R DL", {DvdRDl, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"blank DVD+R", {DvdPlusR, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"appendable DVD+R", {DvdPlusR, S::Appendable, false, false, {}, {}}, A::Refuse, false, "cannot be erased"},
        {"blank DVD+R DL", {DvdPlusRDl, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"closed DVD+R DL", {DvdPlusRDl, S::Full, false, false, kOther, {}}, A::Refuse, false, "insert a blank"},
        {"blank BD-R", {BdR, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"closed BD-R", {BdR, S::Full, false, false, kOther, {}}, A::Refuse, false, "cannot be erased"},
        // Sequential rewritables: a written one is blanked, after asking.
        {"blank CD-RW", {CdRw, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"closed CD-RW", {CdRw, S::Full, true, false, kOther, {}}, A::AskToErase, true, kOther.c_str()},
        {"appendable CD-RW", {CdRw, S::Appendable, true, false, {}, {}}, A::AskToErase, true, "holds"},
        {"blank sequential DVD-RW", {DvdRwSequential, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"closed sequential DVD-RW", {DvdRwSequential, S::Full, true, false, kOther, {}}, A::AskToErase, true, kOther.c_str()},
        // Overwritable media report blank with or without data: the first blocks decide.
        {"empty DVD+RW", {DvdPlusRw, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"DVD+RW holding a volume", {DvdPlusRw, S::Blank, false, false, kOther, {}}, A::AskToErase, false, kOther.c_str()},
        {"DVD+RW holding an unnamed volume", {DvdPlusRw, S::Blank, false, false, "", {}}, A::AskToErase, false, "without a name"},
        {"empty restricted-overwrite DVD-RW", {DvdRwOverwrite, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"restricted-overwrite DVD-RW holding a volume", {DvdRwOverwrite, S::Blank, false, false, kOther, {}}, A::AskToErase, false, kOther.c_str()},
        {"unformatted restricted-overwrite DVD-RW", {DvdRwOverwrite, S::Blank, false, true, {}, {}}, A::FormatThenWrite, false, "formatted"},
        {"unformatted DVD-RAM", {DvdRam, S::Blank, false, true, {}, {}}, A::FormatThenWrite, false, "formatted"},
        {"formatted empty DVD-RAM", {DvdRam, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"DVD-RAM holding a volume", {DvdRam, S::Blank, false, false, kOther, {}}, A::AskToErase, false, kOther.c_str()},
        {"unformatted BD-RE", {BdRe, S::Blank, false, true, {}, {}}, A::FormatThenWrite, false, "formatted"},
        {"formatted empty BD-RE", {BdRe, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"BD-RE holding a volume", {BdRe, S::Blank, false, false, kOther, {}}, A::AskToErase, false, kOther.c_str()},
        {"empty stdio file", {StdioFile, S::Blank, false, false, {}, {}}, A::Write, false, ""},
        {"stdio file holding an image", {StdioFile, S::Blank, false, false, kOther, {}}, A::AskToErase, false, kOther.c_str()},
        {"appendable stdio file", {StdioFile, S::Appendable, false, false, {}, {}}, A::AskToErase, false, "holds"},
        // A disc of the backup being written is never written over, whatever the medium.
        {"DVD+RW of this backup", {DvdPlusRw, S::Blank, false, false, kOurs, {}}, A::Refuse, false, kBackup},
        {"BD-RE of this backup", {BdRe, S::Blank, false, false, kOurs, {}}, A::Refuse, false, kBackup},
        {"CD-RW of this backup", {CdRw, S::Full, true, false, kOurs, {}}, A::Refuse, false, kBackup},
        {"stdio file of this backup", {StdioFile, S::Blank, false, false, kOurs, {}}, A::Refuse, false, kBackup},
        {"closed DVD-R of this backup", {DvdR, S::Full, false, false, kOurs, {}}, A::Refuse, false, kBackup},
        {"DVD+RW of this backup, its name as the primary descriptor keeps it",
         {DvdPlusRw, S::Blank, false, false, "STICK_0812251430", {}}, A::Refuse, false, kBackup},
        {"DVD+RW of another backup of the same stick",
         {DvdPlusRw, S::Blank, false, false, "STICK_0812251431", {}}, A::AskToErase, false, "STICK_0812251431"},
    };
}

TEST(MediaDecision, EveryKindOfMedium) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.what);
        MediaDecision decision = DecideMedia(row.medium, kBackup);
        EXPECT_EQ(decision.action, row.action);
        EXPECT_EQ(decision.blankFirst, row.blankFirst);
        if (*row.reasonHas) {
            EXPECT_NE(decision.reason.find(row.reasonHas), std::string::npos) << decision.reason;
        }
        if (row.action == MediaAction::Refuse || row.action == MediaAction::AskToErase) {
            EXPECT_FALSE(decision.reason.empty());
        }
    }
}

TEST(MediaDecision, BeforeTheBackupIsNamedAVolumeIsAskedAbout) {
    MediumState ours{DvdPlusRw, DiscState::Blank, false, false, kOurs, {}};
    EXPECT_EQ(DecideMedia(ours, "").action, MediaAction::AskToErase);
}

TEST(MediaDecision, ALongBackupNameMatchesTheVolumeIdItWasCutTo) {
    const std::string name = "A VERY LONG STICK LABEL 0812251430";
    ASSERT_GT(name.size(), 32u);
    MediumState disc{BdRe, DiscState::Blank, false, false, BackupVolumeId(name), {}};
    EXPECT_EQ(BackupVolumeId(name).size(), 32u);
    EXPECT_EQ(DecideMedia(disc, name).action, MediaAction::Refuse);
}

TEST(MediaDecision, VolumeIdOfDescriptor) {
    unsigned char block[2048] = {};
    EXPECT_EQ(VolumeIdOfDescriptor(block, sizeof block), std::nullopt);
    block[0] = 1;
    std::memcpy(block + 1, "CD001", 5);
    block[6] = 1;
    std::memset(block + 40, ' ', 32);
    std::memcpy(block + 40, "HOLIDAY PHOTOS", 14);
    EXPECT_EQ(VolumeIdOfDescriptor(block, sizeof block), std::optional<std::string>("HOLIDAY PHOTOS"));
    EXPECT_EQ(VolumeIdOfDescriptor(block, 100), std::nullopt);
    block[0] = 2;  // a supplementary descriptor is not the primary one
    EXPECT_EQ(VolumeIdOfDescriptor(block, sizeof block), std::nullopt);
}

}  // namespace
}  // namespace corvane
