#pragma once
// A disc master with one image-file recorder in a scratch folder, and staging as the backup
// does it: each file staged on its own and deleted right after it was added.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "disc/DiscLayer.h"
#include "support/ScratchFolder.h"

namespace corvane::test {

class DiscMasterFixture : public ::testing::Test {
  protected:
    void Start(std::uint64_t capacity, bool scanOpticalDrives = false) {
        DiscLayerOptions options;
        options.imageRecorders = {{"test", capacity, imageFolder}};
        options.scanOpticalDrives = scanOpticalDrives;
        master = CreateDiscMaster(options);
        ASSERT_TRUE(master->Open().ok());
        ASSERT_TRUE(master->SetActiveDiscMasterFormat(joliet).ok());
        std::unique_ptr<IEnumDiscRecorders> recorders;
        ASSERT_TRUE(master->EnumDiscRecorders(recorders).ok());
        recorder = recorders->Next();
        ASSERT_TRUE(recorder);
        ASSERT_TRUE(master->SetActiveDiscRecorder(recorder).ok());
    }

    Status Add(const std::string& name, const std::string& bytes, bool overwrite = false) {
        std::string staged = scratch.WriteFile("staging/next", bytes);
        Status status = joliet->AddData({name, staged}, overwrite);
        std::filesystem::remove(staged);
        return status;
    }

    std::string Image(const std::string& name) const { return imageFolder + "/" + name; }

    ScratchFolder scratch;
    std::string imageFolder = scratch / "discs";
    std::unique_ptr<IDiscMaster> master;
    IJolietDiscMaster* joliet = nullptr;
    std::shared_ptr<IDiscRecorder> recorder;
};

}  // namespace corvane::test
