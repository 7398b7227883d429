#pragma once
// The content of one disc: a libisofs image whose root holds the added files. libisofs reads a
// file's bytes only while recording, so each added file is first hard-linked (or copied) into
// the disc's own staging folder, a private folder removed with the DiscImage.
//
// libisofs keeps a folder's children in a list sorted by name and walks it on every lookup and
// insertion, which made adding n files take time in n squared. So the names are looked up here,
// and added files wait outside the root until the image is measured or written; they then go in
// all together, in an order that puts each at the head of the list.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "disc/DiscLibrary.h"
#include "disc/DiscMaster.h"
#include "platform/PrivateTempFolder.h"
#include "platform/Status.h"

struct burn_source;
struct Iso_Dir;
struct Iso_Image;
struct Iso_Node;

namespace corvane {

// Where an image goes: the bytes it may take, and the blocks of padding recorded after it.
struct MediumLimits {
    std::uint64_t capacity = 0;
    std::uint32_t tailBlocks = 0;
};

class DiscImage {
  public:
    // stagingParent: where the staging folder is made (see IDiscRecorder::StagingFolder).
    explicit DiscImage(std::string stagingParent);
    ~DiscImage();
    DiscImage(const DiscImage&) = delete;
    DiscImage& operator=(const DiscImage&) = delete;

    // Adds the staged file to the root under its name. InvalidArgument for a name that is not
    // a plain UTF-8 file name of at most 64 UTF-16 characters (what Joliet keeps whole);
    // AlreadyExists when the name is taken and overwrite is false; TooLarge when the file would
    // not fit even a disc holding only the everyDisc files (and its reserve); NoSpace when the
    // image, with the file's reserve kept free, would no longer fit the medium. On any failure
    // the image and the staging folder are as they were.
    Status Add(const StagedFile& file, bool overwrite, const MediumLimits& limits);

    // The exact size in bytes of the image as it would be recorded.
    Status ExactSize(std::uint32_t tailBlocks, std::uint64_t& size);
    // NoSpace when the image as it would be recorded is larger than the medium. The running
    // bound of the files added answers without a measure while it is within the capacity.
    Status CheckFits(const MediumLimits& limits);
    // A burn source that produces the image; the caller frees it with burn_source_free.
    // sizeOnly: the source will only be asked for its size, then cancelled.
    Status CreateBurnSource(std::uint32_t tailBlocks, bool sizeOnly, ::burn_source*& source);
    // The ISO 9660 volume name; cut to the 32 bytes the format holds.
    void SetVolumeId(const std::string& name);

    // The names in the root, in the order they were first added.
    std::vector<std::string> names() const;

  private:
    // A file of the root: its node, whether the node is in the root's list yet or waits, the
    // number of its staging file and its place in the order of adding. Kept small: a disc may
    // hold tens of thousands.
    struct RootFile {
        Iso_Node* node = nullptr;
        bool inRoot = false;
        int staged = 0;
        std::size_t order = 0;
    };

    // Copies or links the file into the staging folder as the next number; stagedPath stays
    // empty on failure.
    Status StageCopy(const std::string& from, std::string& stagedPath);
    std::string StagedPath(int number) const;
    // Enters the file under its node's name, which the entry's key shows.
    void Enter(const RootFile& file);
    // A node for the staged file, in no folder yet; the caller owns it.
    Status NewNode(const StagedFile& file, const std::string& stagedPath, Iso_Node*& node);
    // Takes the file out of the image (or out of the waiting ones); the caller owns its node.
    RootFile TakeOut(const std::string& name);
    // Puts the waiting files into the root's list.
    void PlaceWaitingFiles();
    // Whether the image, holding the newly added file of that size, still fits with the room
    // to keep for the closing file: the running bound decides while it is well below the
    // capacity, an exact measure near it.
    Status Fit(const std::string& name, std::uint64_t size, std::uint64_t reserve, const MediumLimits& limits);
    Status EmptyImageSize(std::uint32_t tailBlocks, std::uint64_t& size);
    // The exact size of an image holding only the everyDisc files and the given one.
    Status SizeBesideEveryDiscFiles(const StagedFile& file, const std::string& stagedPath,
                                    std::uint32_t tailBlocks, std::uint64_t& size);

    DiscLibrary::User library_;
    std::string stagingParent_;
    PrivateTempFolder staging_;
    Iso_Image* image_ = nullptr;
    Iso_Dir* workbench_ = nullptr;  // a folder outside the tree where nodes are made
    // Every file of the root by its node's name: a string_view orders bytes as strcmp does,
    // as libisofs's list is ordered.
    std::map<std::string_view, RootFile, std::less<>> files_;
    std::size_t addedCount_ = 0;
    // The greatest name that may be waiting; empty when none is.
    std::string lastWaiting_;
    std::map<std::string, std::string> everyDiscFiles_;  // the same, of the everyDisc files
    int stagedCount_ = 0;
    // A cheap upper bound of the image size: the exact size at the last exact check (made with
    // boundTail_) plus a generous estimate for every file added since.
    std::uint64_t boundSize_ = 0;
    std::uint32_t boundTail_ = 0;
    bool boundKnown_ = false;
    std::uint64_t emptySize_ = 0;  // of an image with no file, made with emptySizeTail_
    std::uint32_t emptySizeTail_ = 0;
    bool emptySizeKnown_ = false;
};

// The number of UTF-16 code units of a UTF-8 name; -1 when it is not valid UTF-8.
int Utf16Length(const std::string& name);

}  // namespace corvane
