// Drive labels as sticks really carry them, backed up onto real image discs: whatever the
// label, the backup completes, every stream name fits a Joliet name (64 UTF-16 characters,
// stream numbers of up to six digits included) and restore reads the same label back.

#include <gtest/gtest.h>

#include <filesystem>

#include "JobRig.h"
#include "disc/DiscImage.h"
#include "disc/DiscLayer.h"
#include "disc/ImageFileSystem.h"
#include "disc/RecorderPath.h"
#include "restore/BackupCatalog.h"

namespace corvane {
namespace {

std::string Repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

TEST(BackupName, EveryLabelGivesStreamNamesThatFitTheDiscAndReadBack) {
    struct Case {
        const char* what;
        std::optional<std::string> label;
        std::string named;  // the label part of every stream name
    } cases[] = {
        {"60 letters", std::string(60, 'L'), std::string(42, 'L')},
        {"60 accented letters", Repeated("\xC3\xA9", 60), Repeated("\xC3\xA9", 42)},
        {"characters outside the BMP count twice", Repeated("\xF0\x9F\x98\x80", 30), Repeated("\xF0\x9F\x98\x80", 21)},
        // Not UTF-8: an OEM label read as restore reads it; 0x90 has no character there.
        {"OEM accented bytes", std::string("CAF\x82 \x90T\x82"), "CAF\xE2\x80\x9A _T\xE2\x80\x9A"},
        {"slash and control character", std::string("A/B\tC"), "A_B_C"},
        {"empty", std::string(), ""},
        {"unreadable", std::nullopt, "unknown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::JobRig rig;
        rig.source.WriteFile("top.txt", "top");
        rig.source.WriteFile("Sub/deep.txt", "deep");
        rig.host.sourceSelection = SourceChoice{rig.source.path(), c.label};
        test::ScratchFolder images;
        const ImageRecorderPath medium{"6 MiB", 6u << 20, images.path()};
        rig.host.recorderSelection = MakeImageRecorderPath(medium);
        BackupJobServices services{[&] { return std::shared_ptr<IDiscMaster>(CreateDiscMaster({{medium}, false})); },
                                   [](const std::string& path) { return path; }};

        EXPECT_EQ(RunBackupJob(rig.host, services), BackupOutcome::Completed) << test::Messages(rig.host);
        std::vector<std::string> discs;
        for (const auto& entry : std::filesystem::directory_iterator(images.path())) discs.push_back(entry.path());
        ASSERT_EQ(discs.size(), 1u);

        ImageFileSystem files(DefaultFileSystem());
        std::vector<BackupStream> streams;
        ASSERT_TRUE(FindStreams(files, discs[0], streams).ok());
        ASSERT_EQ(streams.size(), 2u);
        for (const auto& stream : streams) {
            EXPECT_EQ(stream.label, c.named);
            ASSERT_EQ(stream.timeStamp.size(), 10u);
            const std::string largest = MakeStreamName(c.named + " " + stream.timeStamp, 999999);
            EXPECT_LE(Utf16Length(largest), 64) << largest;
            if (c.named.size() > 40) {
                EXPECT_EQ(Utf16Length(largest), 64) << "cut no shorter than it must be";
            }
        }
    }
}

}  // namespace
}  // namespace corvane
