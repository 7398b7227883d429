#pragma once
// Reading our disc images the way a user would, with the peer tool xorriso, and a progress
// sink that records what a recording reports.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "disc/DiscMaster.h"

namespace corvane::test {

// Files by name with a short print of their bytes (size and hash), so that a failed comparison
// stays readable.
using FilePrints = std::map<std::string, std::string>;
FilePrints Prints(const std::map<std::string, std::string>& files);

// The files of an image as xorriso extracts them (Rock Ridge names). Fails the current test when
// xorriso does.
FilePrints ExtractWithXorriso(const std::string& image, const std::string& intoFolder);

// Whether xorriso finds the image whole by the MD5 sums recorded in it: the session's and every
// file's. False when one is missing or does not match.
bool XorrisoChecksMd5(const std::string& image);

// The Joliet names of an image's root and their sizes, as xorriso lists them.
std::map<std::string, std::uint64_t> JolietListing(const std::string& image);

// Where xorriso finds the data of each file of an image's root: its first block and size.
struct FileExtent {
    std::uint32_t block = 0;
    std::uint64_t size = 0;
};
std::map<std::string, FileExtent> FileExtents(const std::string& image);

// An image of a folder's content made by xorriso, with Rock Ridge and Joliet names.
void MakeImageWithXorriso(const std::string& folder, const std::string& image);
// An image of a folder's content made by genisoimage, with Joliet names only.
void MakeJolietOnlyImage(const std::string& folder, const std::string& image);

// The names in a folder, hidden files included, sorted; hidden folders (the staging areas a
// backup keeps beside its images while it runs) are not listed.
std::vector<std::string> FolderNames(const std::string& folder);
// The hidden folders in a folder, sorted: staging areas.
std::vector<std::string> HiddenFolders(const std::string& folder);

struct SinkEvent {
    enum Kind { Preparing, Blocks, Closing, Complete } kind;
    int completed = 0;
    int total = 0;
    Status::Code result = Status::Code::Ok;
};

class RecordingSink final : public IDiscMasterProgressEvents {
  public:
    // Answers QueryCancel with true once a block progress has come.
    bool cancelAfterFirstBlocks = false;
    std::vector<SinkEvent> events;

    bool QueryCancel() override;
    Status NotifyPnPActivity() override { return NotImplemented(); }
    Status NotifyAddProgress(int, int) override { return NotImplemented(); }
    Status NotifyBlockProgress(int completedBlocks, int totalBlocks) override;
    Status NotifyTrackProgress(int, int) override { return NotImplemented(); }
    Status NotifyPreparingBurn(int) override;
    Status NotifyClosingDisc(int) override;
    Status NotifyBurnComplete(const Status& result) override;
    Status NotifyEraseComplete(const Status&) override { return NotImplemented(); }

  private:
    static Status NotImplemented() { return Status(Status::Code::NotImplemented, ""); }
};

}  // namespace corvane::test
