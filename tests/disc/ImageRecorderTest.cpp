#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "DiscMasterFixture.h"
#include "support/PeerTools.h"

namespace corvane::test {
namespace {

std::shared_ptr<IDiscRecorder> FirstRecorder(IDiscMaster& master) {
    std::unique_ptr<IEnumDiscRecorders> recorders;
    EXPECT_TRUE(master.EnumDiscRecorders(recorders).ok());
    return recorders ? recorders->Next() : nullptr;
}

using ImageRecorder = DiscMasterFixture;

TEST_F(ImageRecorder, OpeningMakesTheFolderAndLocksItAgainstOtherJobs) {
    Start(1024 * 1024);
    int type = 0;
    unsigned flags = 0;
    EXPECT_FALSE(recorder->QueryMediaType(type, flags).ok()) << "needs the recorder open";
    EXPECT_EQ(flags, 0u);

    ASSERT_TRUE(recorder->OpenExclusive().ok());
    EXPECT_TRUE(std::filesystem::is_directory(imageFolder));
    ASSERT_TRUE(recorder->QueryMediaType(type, flags).ok());
    EXPECT_EQ(flags, MEDIA_WRITABLE | MEDIA_BLANK);

    auto other = FirstRecorder(*master);  // the same folder, as another job would see it
    ASSERT_TRUE(other);
    EXPECT_EQ(other->OpenExclusive().code(), Status::Code::Unavailable);
    EXPECT_TRUE(recorder->Close().ok());
    ASSERT_TRUE(other->OpenExclusive().ok());
    ASSERT_TRUE(Add("autorun.inf", "x").ok());
    EXPECT_EQ(master->RecordDisc(false, true).code(), Status::Code::Unavailable);
    EXPECT_EQ(FolderNames(imageFolder), std::vector<std::string>{});

    EXPECT_TRUE(other->Close().ok());
    EXPECT_TRUE(master->RecordDisc(false, true).ok());
    EXPECT_EQ(FolderNames(imageFolder), std::vector<std::string>{"Corvane disc 01.iso"});
}

TEST_F(ImageRecorder, FoldersThatCannotBeWrittenGiveClearErrors) {
    std::string aFile = scratch.WriteFile("plain file", "x");
    std::string readOnly = scratch.MakeFolder("read only");
    std::filesystem::permissions(
        readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    struct Case {
        std::string folder;
        bool opens;  // else QueryMediaType fails
    } cases[] = {
        {scratch / "missing/discs", false},
        {aFile, false},
        {aFile + "/discs", false},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    if (::geteuid() != 0) all.push_back({readOnly, true});  // root writes anywhere

    for (const auto& c : all) {
        DiscLayerOptions options;
        options.imageRecorders = {{"test", 1024 * 1024, c.folder}};
        auto other = CreateDiscMaster(options);
        ASSERT_TRUE(other->Open().ok());
        auto target = FirstRecorder(*other);
        ASSERT_TRUE(target);
        Status opened = target->OpenExclusive();
        EXPECT_EQ(opened.ok(), c.opens) << c.folder << ": " << opened.message();
        if (!opened.ok()) {
            EXPECT_NE(opened.message().find(c.folder), std::string::npos) << opened.message();
            continue;
        }
        int type = 0;
        unsigned flags = 0;
        Status queried = target->QueryMediaType(type, flags);
        EXPECT_FALSE(queried.ok()) << c.folder;
        EXPECT_EQ(flags & MEDIA_WRITABLE, 0u) << c.folder;
        EXPECT_NE(queried.message().find(c.folder), std::string::npos) << queried.message();
    }

    // Recording into such a folder fails the same way and leaves nothing behind.
    DiscLayerOptions options;
    options.imageRecorders = {{"test", 1024 * 1024, scratch / "missing/discs"}};
    auto unreachable = CreateDiscMaster(options);
    ASSERT_TRUE(unreachable->Open().ok());
    ASSERT_TRUE(unreachable->SetActiveDiscRecorder(FirstRecorder(*unreachable)).ok());
    EXPECT_EQ(unreachable->RecordDisc(false, true).code(), Status::Code::NotFound);
}

}  // namespace
}  // namespace corvane::test
