#include "disc/DiscImage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "disc/IsoBurn.h"
#include "disc/MediaDecision.h"
#include "disc/StagedStream.h"
#include "platform/TextCodec.h"

namespace corvane {

namespace {

constexpr std::uint64_t kBlock = 2048;
constexpr int kMaxJolietName = 64;
// Above this a file takes one more directory record per section (ISO level 3).
constexpr std::uint64_t kSectionLimit = 0xffffffffull - kBlock + 1;

std::uint64_t RoundUpToBlock(std::uint64_t bytes) { return (bytes + kBlock - 1) / kBlock * kBlock; }

// What a file adds to the image at most: its data blocks, and for each of its sections (ISO
// level 3 cuts files at 4 GiB) a directory record in the ISO 9660 directory, one in the Joliet
// directory and Rock Ridge fields in the continuation area of the ISO 9660 directory. Records
// never cross a block, and each is far smaller than one, so a record added anywhere in a
// directory (they are sorted by name) makes it at most one block longer: three blocks a
// section.
// Its MD5 sum may take the array of sums one block further.
std::uint64_t UpperCost(std::uint64_t size) {
    return RoundUpToBlock(size) + 3 * kBlock * (1 + size / kSectionLimit) + kBlock;
}

// What the room kept for the closing file costs: as much as adding it, or nothing.
std::uint64_t ReserveCost(std::uint64_t reserve) { return reserve == 0 ? 0 : UpperCost(reserve); }

// The same options for the size check and for recording, so that both see the same image.
IsoWriteOpts* NewWriteOptions(bool sizeOnly, std::uint32_t tailBlocks) {
    IsoWriteOpts* options = nullptr;
    if (iso_write_opts_new(&options, 0) < 0) return nullptr;
    iso_write_opts_set_iso_level(options, 3);  // level 2 refuses files of 4 GiB and more
    iso_write_opts_set_rockridge(options, 1);
    iso_write_opts_set_joliet(options, 1);
    // Files owned by root on the disc, with the modes Add gave them (not the private modes of
    // the staging copies); folders read-only.
    iso_write_opts_set_replace_mode(options, 1, 0, 1, 1);
    iso_write_opts_set_always_gmt(options, 1);
    // MD5 of the session and of every file, so that a peer checks a disc without this program
    // (xorriso -check_md5). Where they lie is recorded in AAIP attributes, so AAIP is on.
    iso_write_opts_set_record_md5(options, 1, 1);
    iso_write_opts_set_aaip(options, 1);
    iso_write_opts_set_tail_blocks(options, tailBlocks);
    iso_write_opts_set_will_cancel(options, sizeOnly ? 1 : 0);
    // 2 MiB between the image writer and the recorder, libisofs's default: 8 MiB cost 6 MiB
    // that a disc of many streams cannot spare, and a drive buffers for itself.
    iso_write_opts_set_fifo_size(options, 1024);
    return options;
}

Status BurnSourceOf(IsoImage* image, std::uint32_t tailBlocks, bool sizeOnly,
                    ::burn_source*& source) {
    IsoWriteOpts* options = NewWriteOptions(sizeOnly, tailBlocks);
    if (!options) return Status(Status::Code::IoError, "Cannot set up the disc image writer");
    int result = iso_image_create_burn_source(image, options, &source);
    iso_write_opts_free(options);
    if (result < 0)
        return Status(Status::Code::IoError,
                      std::string("Cannot build the disc image: ") + iso_error_to_msg(result));
    return Status::Ok();
}

// A size-only source starts no writer (a cancelled writer leaks in libisofs), and then libisofs
// gives its files no checksum index: its array of MD5 sums (16 bytes for each file, the
// session and the array itself) is counted as one block. The blocks it takes beyond that are
// added here; the index each file carries in its directory record is counted already, by the
// placeholder MarkForChecksum gives every file.
std::uint64_t ChecksumArrayBlocksBeyondOne(std::size_t files) {
    return (files + 2 + 127) / 128 - 1;
}

// files: the number of files in the image.
Status SizeOf(IsoImage* image, std::size_t files, std::uint32_t tailBlocks, std::uint64_t& size) {
    ::burn_source* source = nullptr;
    Status status = BurnSourceOf(image, tailBlocks, true, source);
    if (!status.ok()) return status;
    burn::burn_source* burnSource = AsBurn(source);
    off_t bytes = burnSource->get_size(burnSource);
    burnSource->cancel(burnSource);
    burn::burn_source_free(burnSource);
    if (bytes < 0) return Status(Status::Code::IoError, "Cannot measure the disc image");
    size = static_cast<std::uint64_t>(bytes) + ChecksumArrayBlocksBeyondOne(files) * kBlock;
    return Status::Ok();
}

// Gives the file the attribute where the writer records its checksum index, with the value's
// size, so that a size-only measure counts it in the directory records.
void MarkForChecksum(IsoNode* node) {
    static char name[] = "isofs.cx";
    char* names[] = {name};
    std::size_t lengths[] = {4};
    char zero[4] = {};
    char* values[] = {zero};
    // 2: keep the other attributes; 8: an attribute of libisofs's own namespace.
    iso_node_set_attrs(node, 1, names, lengths, values, 2 | 8);
}

Status CheckName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return Status(Status::Code::InvalidArgument, "\"" + name + "\" is not a file name");
    int length = Utf16Length(name);
    if (length < 0)
        return Status(Status::Code::InvalidArgument, "The name \"" + name + "\" is not UTF-8");
    if (length > kMaxJolietName)
        return Status(Status::Code::InvalidArgument,
                      "The name \"" + name + "\" is longer than the " +
                          std::to_string(kMaxJolietName) + " characters a disc keeps");
    return Status::Ok();
}

}  // namespace

int Utf16Length(const std::string& name) {
    if (!IsValidUtf8(name)) return -1;
    int units = 0;
    for (unsigned char c : name) {
        if ((c & 0xc0) == 0x80) continue;  // continuation byte
        units += c >= 0xf0 ? 2 : 1;        // four-byte sequences need a surrogate pair
    }
    return units;
}

DiscImage::DiscImage(std::string stagingParent) : stagingParent_(std::move(stagingParent)) {
    DiscLibrary::Lock lock;
    if (!DiscLibrary::Ready() || iso_image_new("CORVANE", &image_) < 0) return;
    // Made in the empty root and taken out again: a folder of this image that is in no tree.
    if (iso_tree_add_new_dir(iso_image_get_root(image_), "workbench", &workbench_) < 0 ||
        iso_node_take(reinterpret_cast<IsoNode*>(workbench_)) < 0) {
        iso_image_unref(image_);
        image_ = nullptr;
        workbench_ = nullptr;
    }
}

DiscImage::~DiscImage() {
    DiscLibrary::Lock lock;
    for (auto& [name, file] : files_)
        if (!file.inRoot) iso_node_unref(file.node);
    if (workbench_) iso_node_unref(reinterpret_cast<IsoNode*>(workbench_));
    if (image_) iso_image_unref(image_);
}

Status DiscImage::Add(const StagedFile& file, bool overwrite, const MediumLimits& limits) {
    DiscLibrary::Lock lock;
    if (!image_)
        return Status(Status::Code::Unavailable, "The disc image library is not available");
    Status status = CheckName(file.name);
    if (!status.ok()) return status;
    struct stat info {};
    if (::stat(file.path.c_str(), &info) != 0)
        return Status::FromErrno(errno, "Cannot add " + file.path);
    if (!S_ISREG(info.st_mode))
        return Status(Status::Code::InvalidArgument, file.path + " is not a plain file");
    auto size = static_cast<std::uint64_t>(info.st_size);

    std::uint64_t emptySize = 0;
    status = EmptyImageSize(limits.tailBlocks, emptySize);
    if (!status.ok()) return status;
    const std::string tooLarge = "\"" + file.name + "\" (" + std::to_string(size) +
                                 " bytes) does not fit even a disc of " +
                                 std::to_string(limits.capacity) + " bytes holding only " +
                                 (everyDiscFiles_.empty() ? "it" : "it and the program");
    if (emptySize + RoundUpToBlock(size) + RoundUpToBlock(file.reserve) > limits.capacity)
        return Status(Status::Code::TooLarge, tooLarge);

    auto existing = files_.find(std::string_view(file.name));
    if (existing != files_.end() && !overwrite)
        return Status(Status::Code::AlreadyExists, "\"" + file.name + "\" is on the disc already");

    std::string stagedPath;
    IsoNode* node = nullptr;
    status = StageCopy(file.path, stagedPath);
    const int staged = stagedCount_;
    if (status.ok()) status = NewNode(file, stagedPath, node);
    // The file it replaces leaves the image while the new one is measured, to come back on
    // failure.
    RootFile replaced;
    if (status.ok()) {
        if (existing != files_.end()) replaced = TakeOut(file.name);
        Enter(RootFile{node, false, staged, replaced.node ? replaced.order : addedCount_++});
        lastWaiting_ = std::max(lastWaiting_, file.name);
        status = Fit(file.name, size, file.reserve, limits);
    }
    if (status.code() == Status::Code::NoSpace) {
        // A file that a fresh disc could not take either must not close this one early.
        std::uint64_t fresh = 0;
        Status measured = SizeBesideEveryDiscFiles(file, stagedPath, limits.tailBlocks, fresh);
        if (!measured.ok()) status = measured;
        else if (fresh + ReserveCost(file.reserve) > limits.capacity)
            status = Status(Status::Code::TooLarge, tooLarge);
    }
    if (!status.ok()) {
        if (node) iso_node_unref(TakeOut(file.name).node);
        if (!stagedPath.empty()) ::unlink(stagedPath.c_str());
        if (replaced.node) {
            Enter(replaced);
            lastWaiting_ = std::max(lastWaiting_, file.name);
        }
        return status;
    }

    if (replaced.node) {
        iso_node_unref(replaced.node);
        ::unlink(StagedPath(replaced.staged).c_str());
    }
    if (file.everyDisc) everyDiscFiles_[file.name] = stagedPath;
    else everyDiscFiles_.erase(file.name);
    return Status::Ok();
}

Status DiscImage::NewNode(const StagedFile& file, const std::string& stagedPath, IsoNode*& node) {
    // The workbench holds no other node, so the add finds its place at once.
    node = nullptr;
    Status added = AddStagedFile(workbench_, file.name, stagedPath, &node);
    if (!added.ok()) return added;
    iso_node_take(node);  // its only reference passes to the caller
    iso_node_set_permissions(node, file.executable ? 0755 : 0444);
    MarkForChecksum(node);
    return Status::Ok();
}

void DiscImage::Enter(const RootFile& file) { files_.emplace(iso_node_get_name(file.node), file); }

std::vector<std::string> DiscImage::names() const {
    std::vector<const std::pair<const std::string_view, RootFile>*> entries;
    for (const auto& entry : files_) entries.push_back(&entry);
    std::ranges::sort(entries, {}, [](const auto* entry) { return entry->second.order; });
    std::vector<std::string> names;
    for (const auto* entry : entries) names.emplace_back(entry->first);
    return names;
}

DiscImage::RootFile DiscImage::TakeOut(const std::string& name) {
    auto found = files_.find(name);
    RootFile file = found->second;
    files_.erase(found);
    if (file.inRoot) iso_node_take(file.node);
    file.inRoot = false;
    return file;
}

void DiscImage::PlaceWaitingFiles() {
    if (lastWaiting_.empty()) return;
    // The files up to the last waiting name are taken out of the root's list in its order, so
    // each is first in it when taken, and all go back in from the greatest name down, so each
    // goes in first.
    std::vector<RootFile*> placed;
    for (auto it = files_.begin(); it != files_.end() && it->first <= lastWaiting_; ++it) {
        if (it->second.inRoot) iso_node_take(it->second.node);
        placed.push_back(&it->second);
    }
    IsoDir* root = iso_image_get_root(image_);
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
        iso_dir_add_node(root, (*it)->node, ISO_REPLACE_NEVER);
        (*it)->inRoot = true;
    }
    lastWaiting_.clear();
}

Status DiscImage::Fit(const std::string& name, std::uint64_t size, std::uint64_t reserve,
                      const MediumLimits& limits) {
    const std::uint64_t cost = UpperCost(size);
    const std::uint64_t kept = ReserveCost(reserve);
    if (boundKnown_ && boundTail_ == limits.tailBlocks && boundSize_ + cost + kept <= limits.capacity) {
        boundSize_ += cost;
        return Status::Ok();
    }
    std::uint64_t exact = 0;
    Status status = ExactSize(limits.tailBlocks, exact);
    if (!status.ok()) return status;
    if (exact + kept > limits.capacity)
        return Status(Status::Code::NoSpace, "The disc is full: \"" + name +
                                                 "\" would take the image to " +
                                                 std::to_string(exact + kept) + " of " +
                                                 std::to_string(limits.capacity) + " bytes");
    boundSize_ = exact;
    boundTail_ = limits.tailBlocks;
    boundKnown_ = true;
    return Status::Ok();
}

Status DiscImage::ExactSize(std::uint32_t tailBlocks, std::uint64_t& size) {
    DiscLibrary::Lock lock;
    if (!image_)
        return Status(Status::Code::Unavailable, "The disc image library is not available");
    PlaceWaitingFiles();
    return SizeOf(image_, files_.size(), tailBlocks, size);
}

Status DiscImage::CheckFits(const MediumLimits& limits) {
    if (boundKnown_ && boundTail_ == limits.tailBlocks && boundSize_ <= limits.capacity) return Status::Ok();
    std::uint64_t size = 0;
    Status status = ExactSize(limits.tailBlocks, size);
    if (status.ok() && size > limits.capacity)
        status = Status(Status::Code::NoSpace, "The disc image (" + std::to_string(size) +
                                                   " bytes) is larger than the medium (" +
                                                   std::to_string(limits.capacity) + " bytes)");
    return status;
}

Status DiscImage::CreateBurnSource(std::uint32_t tailBlocks, bool sizeOnly,
                                   ::burn_source*& source) {
    DiscLibrary::Lock lock;
    if (!image_)
        return Status(Status::Code::Unavailable, "The disc image library is not available");
    PlaceWaitingFiles();
    return BurnSourceOf(image_, tailBlocks, sizeOnly, source);
}

void DiscImage::SetVolumeId(const std::string& name) {
    DiscLibrary::Lock lock;
    if (image_) iso_image_set_volume_id(image_, BackupVolumeId(name).c_str());
}

Status DiscImage::StageCopy(const std::string& from, std::string& stagedPath) {
    Status status = staging_.CreateIn(stagingParent_);
    if (!status.ok()) return status;
    stagedPath = StagedPath(++stagedCount_);
    if (::link(from.c_str(), stagedPath.c_str()) == 0) return Status::Ok();
    std::error_code error;
    if (std::filesystem::copy_file(from, stagedPath, error)) return Status::Ok();
    ::unlink(stagedPath.c_str());
    stagedPath.clear();
    return Status::FromErrno(error.value(), "Cannot copy " + from + " for the disc");
}

std::string DiscImage::StagedPath(int number) const { return staging_.path() + "/" + std::to_string(number); }

Status DiscImage::EmptyImageSize(std::uint32_t tailBlocks, std::uint64_t& size) {
    if (emptySizeKnown_ && emptySizeTail_ == tailBlocks) {
        size = emptySize_;
        return Status::Ok();
    }
    IsoImage* empty = nullptr;
    if (iso_image_new("CORVANE", &empty) < 0)
        return Status(Status::Code::IoError, "Cannot build an empty disc image");
    Status status = SizeOf(empty, 0, tailBlocks, size);
    iso_image_unref(empty);
    if (!status.ok()) return status;
    emptySize_ = size;
    emptySizeTail_ = tailBlocks;
    emptySizeKnown_ = true;
    return Status::Ok();
}

Status DiscImage::SizeBesideEveryDiscFiles(const StagedFile& file, const std::string& stagedPath,
                                           std::uint32_t tailBlocks, std::uint64_t& size) {
    IsoImage* fresh = nullptr;
    if (iso_image_new("CORVANE", &fresh) < 0)
        return Status(Status::Code::IoError, "Cannot build an empty disc image");
    IsoDir* root = iso_image_get_root(fresh);
    std::map<std::string, std::string> files = everyDiscFiles_;
    files[file.name] = stagedPath;
    Status status;
    for (const auto& [name, path] : files) {
        IsoNode* node = nullptr;
        status = AddStagedFile(root, name, path, &node);
        if (!status.ok()) {
            status = Status(status.code(), "Cannot measure \"" + name + "\" on a disc of its own: " + status.message());
            break;
        }
        MarkForChecksum(node);
    }
    if (status.ok()) status = SizeOf(fresh, files.size(), tailBlocks, size);
    iso_image_unref(fresh);
    return status;
}

}  // namespace corvane
