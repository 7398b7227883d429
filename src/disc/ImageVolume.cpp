#include "disc/ImageVolume.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <unordered_map>

#include "archive/LittleEndian.h"
#include "disc/IsoBurn.h"
#include "disc/MediaDecision.h"

namespace corvane {

static_assert(sizeof(off_t) == 8, "images and the files in them may be larger than 2 GiB");

constexpr std::size_t kBlock = 2048;
// libisofs asks its data source for one block at a time. Reading each with its own system call
// made reading a file from an image several times slower than reading a plain file; reading a
// window of 32 blocks at once saves most of that.
constexpr std::size_t kWindowBlocks = 32;

// The data source behind an image: its blocks, read through the file layer a window at a time.
// A window that fails is read again block by block, so one unreadable block costs only what
// lies on it; blocks found unreadable are remembered, so no later window asks for them again.
struct ImageBlockReader {
    explicit ImageBlockReader(std::unique_ptr<File> image) : file(std::move(image)) {}

    std::unique_ptr<File> file;
    std::vector<std::uint8_t> window = std::vector<std::uint8_t>(kWindowBlocks * kBlock);
    std::uint32_t first = 0;  // the block at the start of the window
    std::uint32_t count = 0;  // whole blocks in the window
    // The volume's size in blocks, 0 while not known. A device holds more than the volume, and
    // on a disc just recorded what lies after it may not even be readable (a CD's run-out
    // blocks): a window never reaches past the volume.
    std::uint32_t volumeBlocks = 0;
    std::map<std::uint32_t, Status> unreadable;  // blocks that failed, with why
    // What is read in place of volume descriptors that cannot be read or are read otherwise:
    // see DescriptorStandIns and JolietPrimary.
    std::map<std::uint32_t, std::vector<std::uint8_t>> standIns;
    Status error;             // why the last read failed, until read again or reported by Failure
};

namespace {

constexpr int kNoImageMessageId = 0x1fffff;  // messages not tied to an image being written
constexpr std::size_t kLargestRead = 1 << 30;

ImageBlockReader& ReaderOf(IsoDataSource* source) {
    return *static_cast<ImageBlockReader*>(source->data);
}

// The file is open from the start to the end of the reader's life.
int OpenSource(IsoDataSource*) { return ISO_SUCCESS; }
int CloseSource(IsoDataSource*) { return ISO_SUCCESS; }

// Reads blocks from block on into the window, as many as fit and lie before the next block
// known to be unreadable; Ok with at least one block, or why the first one cannot be read.
Status ReadWindow(ImageBlockReader& reader, std::uint32_t block, std::size_t blocks) {
    const auto bad = reader.unreadable.lower_bound(block);
    if (bad != reader.unreadable.end()) {
        if (bad->first == block) return bad->second;
        blocks = std::min<std::size_t>(blocks, bad->first - block);
    }
    std::size_t got = 0;
    Status status = reader.file->Seek(static_cast<std::int64_t>(block) * kBlock, SeekFrom::Start);
    if (status.ok()) status = reader.file->ReadFull(reader.window.data(), blocks * kBlock, got);
    if (status.ok() && got < kBlock)
        status = Status(Status::Code::Corrupt, "the image file ends early (it was cut short)");
    if (status.ok()) {
        reader.count = static_cast<std::uint32_t>(got / kBlock);
        return status;
    }
    if (blocks == 1) {
        if (status.code() != Status::Code::Corrupt) reader.unreadable.emplace(block, status);
        return status;
    }
    // Somewhere in the window lies an unreadable block: read it again one block at a time and
    // keep the blocks before the first that fails.
    std::uint32_t good = 0;
    for (; good < blocks; ++good) {
        status = reader.file->Seek(static_cast<std::int64_t>(block + good) * kBlock, SeekFrom::Start);
        if (status.ok()) status = reader.file->ReadFull(reader.window.data() + good * kBlock, kBlock, got);
        if (status.ok() && got < kBlock)
            status = Status(Status::Code::Corrupt, "the image file ends early (it was cut short)");
        if (!status.ok()) break;
    }
    if (!status.ok() && status.code() != Status::Code::Corrupt) reader.unreadable.emplace(block + good, status);
    reader.count = good;
    return good > 0 ? Status::Ok() : status;
}

constexpr std::uint32_t kDescriptorBlock = 16;     // the primary volume descriptor
constexpr std::size_t kVolumeSpaceSizeOffset = 80;  // where it gives the volume's blocks

int ReadBlock(IsoDataSource* source, std::uint32_t block, std::uint8_t* buffer) {
    ImageBlockReader& reader = ReaderOf(source);
    const auto standIn = reader.standIns.find(block);
    if (standIn != reader.standIns.end()) {
        std::memcpy(buffer, standIn->second.data(), kBlock);
        return ISO_SUCCESS;
    }
    if (block < reader.first || block - reader.first >= reader.count) {
        reader.count = 0;
        std::size_t blocks = kWindowBlocks;
        if (block < reader.volumeBlocks)
            blocks = std::min<std::size_t>(blocks, reader.volumeBlocks - block);
        else if (reader.volumeBlocks > 0)
            blocks = 1;  // past the volume, as a damaged record may point: that block alone
        Status status = ReadWindow(reader, block, blocks);
        if (!status.ok()) {
            reader.error = status;
            return static_cast<int>(ISO_DATA_SOURCE_MISHAP);
        }
        reader.first = block;
        reader.error = Status::Ok();
    }
    std::memcpy(buffer, reader.window.data() + (block - reader.first) * kBlock, kBlock);
    return ISO_SUCCESS;
}

void FreeReader(IsoDataSource* source) { delete &ReaderOf(source); }

constexpr std::uint32_t kLastDescriptorBlock = kDescriptorBlock + 16;  // a bound for a damaged set
constexpr std::size_t kRootRecordOffset = 156;  // a volume descriptor's root folder record
constexpr std::size_t kRootRecordLength = 34;
constexpr std::size_t kEscapesOffset = 88;      // a supplementary descriptor's character set
constexpr std::size_t kEscapesLength = 32;

// The volume descriptor at block, or an empty one when it is none; readable is false when the
// block cannot be read.
std::vector<std::uint8_t> DescriptorAt(File& image, std::uint32_t block, bool* readable = nullptr) {
    std::vector<std::uint8_t> descriptor(kBlock);
    std::size_t got = 0;
    Status status = image.Seek(std::int64_t{block} * kBlock, SeekFrom::Start);
    if (status.ok()) status = image.ReadFull(descriptor.data(), kBlock, got);
    if (readable) *readable = status.ok() && got == kBlock;
    if (!status.ok() || got < kBlock || std::memcmp(descriptor.data() + 1, "CD001", 5) != 0) descriptor.clear();
    return descriptor;
}

// Stand-ins for the volume descriptors after the primary one that cannot be read, since
// libisofs reads them all before anything else: an empty block, which it passes over, for one
// that another descriptor follows, else a set terminator.
std::map<std::uint32_t, std::vector<std::uint8_t>> DescriptorStandIns(File& image) {
    std::map<std::uint32_t, std::vector<std::uint8_t>> standIns;
    for (std::uint32_t block = kDescriptorBlock + 1; block < kLastDescriptorBlock; ++block) {
        bool readable = false;
        const std::vector<std::uint8_t> descriptor = DescriptorAt(image, block, &readable);
        if (readable && (descriptor.empty() || descriptor[0] == 255)) break;
        if (readable) continue;
        std::vector<std::uint8_t>& standIn = standIns[block] = std::vector<std::uint8_t>(kBlock);
        if (!DescriptorAt(image, block + 1).empty()) continue;
        standIn[0] = 255;
        std::memcpy(standIn.data() + 1, "CD001\1", 6);
        break;
    }
    return standIns;
}

// The Joliet descriptor: a supplementary one whose character set is UCS-2 ("%/@", "%/C" or
// "%/E"); empty when there is none that can be read.
std::vector<std::uint8_t> JolietDescriptor(File& image) {
    for (std::uint32_t block = kDescriptorBlock + 1; block < kLastDescriptorBlock; ++block) {
        std::vector<std::uint8_t> descriptor = DescriptorAt(image, block);
        if (descriptor.empty() || descriptor[0] == 255) break;
        const std::uint8_t* escapes = descriptor.data() + kEscapesOffset;
        if (descriptor[0] == 2 && escapes[0] == '%' && escapes[1] == '/' &&
            (escapes[2] == '@' || escapes[2] == 'C' || escapes[2] == 'E'))
            return descriptor;
    }
    return {};
}

// How many entries the root folder of the Joliet tree holds, counted from its records without
// decoding them; -1 when it cannot be read. A file of several extents counts once for each.
int JolietRootRecords(File& image, const std::vector<std::uint8_t>& joliet) {
    constexpr std::uint32_t kLargestRoot = 1 << 26;  // far more than any disc's root needs
    const std::uint32_t start = GetU32(joliet.data() + kRootRecordOffset + 2);
    const std::uint32_t length = GetU32(joliet.data() + kRootRecordOffset + 10);
    if (length == 0 || length > kLargestRoot) return -1;
    std::vector<std::uint8_t> records((length + kBlock - 1) / kBlock * kBlock);
    std::size_t got = 0;
    if (!image.Seek(std::int64_t{start} * kBlock, SeekFrom::Start).ok() ||
        !image.ReadFull(records.data(), records.size(), got).ok() || got < records.size())
        return -1;
    int count = 0;
    for (std::size_t at = 0; at < length;) {
        const std::size_t recordLength = records[at];
        if (recordLength == 0) {
            at = (at / kBlock + 1) * kBlock;  // records do not cross blocks: the rest is padding
            continue;
        }
        ++count;
        at += recordLength;
    }
    return count - 2;  // "." and ".."
}

// The primary volume descriptor as the image is read through Joliet: its root folder record is
// the Joliet root's, so that nothing of the Rock Ridge tree is read (libisofs reads the primary
// root's records even when told to read Joliet names). Where the primary descriptor cannot be
// read, the Joliet one stands in for it whole.
std::vector<std::uint8_t> JolietPrimary(File& image, const std::vector<std::uint8_t>& joliet) {
    std::vector<std::uint8_t> primary = DescriptorAt(image, kDescriptorBlock);
    if (primary.empty() || primary[0] != 1) {
        primary = joliet;
        primary[0] = 1;
        std::memset(primary.data() + kEscapesOffset, 0, kEscapesLength);
    }
    std::memcpy(primary.data() + kRootRecordOffset, joliet.data() + kRootRecordOffset, kRootRecordLength);
    return primary;
}

// The volume's size in blocks as its primary volume descriptor gives it (the Joliet one when
// the primary cannot be read); 0 when neither can be read (libisofs then says what is wrong).
std::uint32_t VolumeBlocks(File& image) {
    std::vector<std::uint8_t> descriptor = DescriptorAt(image, kDescriptorBlock);
    if (descriptor.empty()) descriptor = JolietDescriptor(image);
    if (descriptor.empty() || !VolumeIdOfDescriptor(descriptor.data(), descriptor.size())) return 0;
    const std::uint32_t blocks = GetU32(descriptor.data() + kVolumeSpaceSizeOffset);
    return blocks > kDescriptorBlock ? blocks : 0;
}

struct SourceUnref {
    void operator()(IsoFileSource* source) const { iso_file_source_unref(source); }
};
// Must be released while a DiscLibrary::Lock is held.
using SourceRef = std::unique_ptr<IsoFileSource, SourceUnref>;

// The name of an entry, empty when it has none that a path could name: a damaged record may
// have no name, one with a separator, or "." or "..".
std::string NameOf(IsoFileSource* source) {
    std::string name;
    if (char* raw = iso_file_source_get_name(source)) {
        name = raw;
        std::free(raw);
    }
    if (name == "." || name == ".." || name.find('/') != std::string::npos) name.clear();
    return name;
}

// Calls visit with each named entry of a folder until it returns false; libisofs's result.
int ReadFolder(IsoFileSource* folder,
               const std::function<bool(const std::string& name, SourceRef entry)>& visit) {
    int result = iso_file_source_open(folder);
    if (result < 0) return result;
    IsoFileSource* next = nullptr;
    while ((result = iso_file_source_readdir(folder, &next)) == 1) {
        SourceRef entry(next);
        std::string name = NameOf(next);
        if (!name.empty() && !visit(name, std::move(entry))) break;
    }
    iso_file_source_close(folder);
    return result < 0 ? result : ISO_SUCCESS;
}

// The folder and the name that a path inside the image names: "/a/b" is "b" in "/a".
void SplitPath(const std::string& inner, std::string& folder, std::string& name) {
    const std::size_t slash = inner.find_last_of('/');
    folder = slash == 0 ? "/" : inner.substr(0, slash);
    name = inner.substr(slash + 1);
}

FileInfo InfoOf(const struct stat& stat) {
    FileInfo info;
    info.kind = S_ISDIR(stat.st_mode)   ? FileInfo::Kind::Folder
                : S_ISREG(stat.st_mode) ? FileInfo::Kind::File
                                        : FileInfo::Kind::Other;
    info.size = S_ISREG(stat.st_mode) ? static_cast<std::uint64_t>(stat.st_size) : 0;
    info.modified = stat.st_mtime;
    info.created = stat.st_mtime;  // an image records no birth time
    return info;
}

class ImageFile final : public File {
  public:
    ImageFile(std::shared_ptr<ImageVolume> volume, SourceRef source, std::string path,
              std::uint64_t length)
        : volume_(std::move(volume)),
          source_(std::move(source)),
          path_(std::move(path)),
          length_(length) {}
    ~ImageFile() override { Close(); }

    Status Read(void* buffer, std::size_t n, std::size_t& got) override {
        got = 0;
        DiscLibrary::Lock lock;
        if (!source_) return Closed();
        if (n == 0) return Status::Ok();  // libisofs refuses to read nothing
        int result = iso_file_source_read(source_.get(), buffer, std::min(n, kLargestRead));
        if (result < 0) return volume_->Failure(result, "Cannot read " + path_);
        got = static_cast<std::size_t>(result);
        position_ += got;
        return Status::Ok();
    }

    Status Seek(std::int64_t offset, SeekFrom from, std::uint64_t* newPosition) override {
        // libisofs refuses a negative offset even from the current position or the end, so
        // every seek is made from the start.
        std::int64_t base = from == SeekFrom::Start     ? 0
                            : from == SeekFrom::Current ? static_cast<std::int64_t>(position_)
                                                        : static_cast<std::int64_t>(length_);
        std::int64_t target = 0;
        if (__builtin_add_overflow(base, offset, &target) || target < 0)
            return Status(Status::Code::InvalidArgument,
                          "Cannot seek before the start of " + path_);
        DiscLibrary::Lock lock;
        if (!source_) return Closed();
        off_t reached = iso_file_source_lseek(source_.get(), target, 0);
        if (reached != target)
            return volume_->Failure(static_cast<int>(reached), "Cannot seek in " + path_);
        position_ = static_cast<std::uint64_t>(target);
        if (newPosition) *newPosition = position_;
        return Status::Ok();
    }

    Status Length(std::uint64_t& length) override {
        length = length_;
        return Status::Ok();
    }

    Status Write(const void*, std::size_t) override { return ImageIsReadOnly(path_); }
    Status Truncate(std::uint64_t) override { return ImageIsReadOnly(path_); }

    Status Close() override {
        DiscLibrary::Lock lock;
        if (source_) {
            iso_file_source_close(source_.get());
            source_.reset();
        }
        return Status::Ok();
    }

  private:
    Status Closed() const {
        return Status(Status::Code::InvalidArgument, "Cannot use " + path_ + ": it is closed");
    }

    std::shared_ptr<ImageVolume> volume_;  // outlives source_
    SourceRef source_;
    std::string path_;
    std::uint64_t length_;
    std::uint64_t position_ = 0;
};

}  // namespace

// One folder of the image as libisofs read it, kept so that a path is looked up without
// reading its folder again: libisofs decodes every record of a folder each time it is opened,
// which made opening each of a folder's n files cost n record decodings.
struct ImageEntry {
    std::string name;
    SourceRef source;
    int statResult = 0;  // of libisofs's lstat; info is valid when it is not negative
    struct stat info {};
};

struct ImageFolder {
    SourceRef source;
    std::vector<ImageEntry> entries;                      // in the order the image lists them
    std::unordered_map<std::string, std::size_t> byName;  // the first entry of each name
    // libisofs's error when the folder could not be read. Its source is never opened again:
    // a failed open leaves it holding entries that libisofs has freed already.
    int failure = ISO_SUCCESS;
};

namespace {

// The first entry of a folder with that name, read afresh; null when there is none or the
// folder cannot be read.
SourceRef FindIn(ImageFolder& folder, const std::string& wanted) {
    SourceRef found;
    if (folder.failure < 0) return found;
    folder.failure = ReadFolder(folder.source.get(), [&](const std::string& name, SourceRef entry) {
        if (name == wanted) found = std::move(entry);
        return !found;
    });
    return found;
}

}  // namespace

ImageVolume::ImageVolume(std::string path) : path_(std::move(path)) {}

ImageVolume::~ImageVolume() {
    DiscLibrary::Lock lock;
    folders_.clear();  // their sources go before the file system they came from
    if (filesystem_) iso_filesystem_unref(filesystem_);
    if (source_) iso_data_source_unref(source_);  // frees the reader and its file
}

Status ImageVolume::Open(std::unique_ptr<File> image, const std::string& path,
                         std::shared_ptr<ImageVolume>& volume) {
    DiscLibrary::Lock lock;
    std::shared_ptr<ImageVolume> opened(new ImageVolume(path));
    if (!DiscLibrary::Ready())
        return Status(Status::Code::Unavailable,
                      "Cannot read " + path + ": the disc image library could not be set up");
    // libisofs frees the data source itself with free() once its last reference is dropped.
    auto* source = static_cast<IsoDataSource*>(std::calloc(1, sizeof(IsoDataSource)));
    if (!source) throw std::bad_alloc();
    opened->reader_ = new ImageBlockReader(std::move(image));
    opened->reader_->volumeBlocks = VolumeBlocks(*opened->reader_->file);
    source->refcount = 1;
    source->open = OpenSource;
    source->close = CloseSource;
    source->read_block = ReadBlock;
    source->free_data = FreeReader;
    source->data = opened->reader_;
    opened->source_ = source;

    const int result = opened->OpenNames(source);
    if (result < 0) return opened->Failure(result, "Cannot read the disc image " + path);
    volume = std::move(opened);
    return Status::Ok();
}

int ImageVolume::OpenNames(iso_data_source* source) {
    ImageBlockReader& reader = *reader_;
    reader.standIns = DescriptorStandIns(*reader.file);
    if (!reader.standIns.empty()) damageNote_ = "a volume descriptor of it could not be read";
    // Rock Ridge names are read where the image has them. Its folders and the Joliet ones are
    // separate records on the disc, so where damage hides entries of the Rock Ridge root (or
    // all of it) that the Joliet root still lists, the image is read through Joliet. Decoding
    // the Joliet names costs about as much again: the Joliet tree is opened only when the Rock
    // Ridge one failed or lists fewer entries than the Joliet root holds records.
    int result = OpenTree(source, NameTree::RockRidge, filesystem_);
    const int rockRidgeEntries = result >= 0 ? RootEntries() : -1;
    const std::vector<std::uint8_t> jolietDescriptor = JolietDescriptor(*reader.file);
    if (jolietDescriptor.empty() || (result >= 0 && rockRidgeEntries >= JolietRootRecords(*reader.file, jolietDescriptor)))
        return result;
    reader.standIns[kDescriptorBlock] = JolietPrimary(*reader.file, jolietDescriptor);
    iso_filesystem* joliet = nullptr;
    if (OpenTree(source, NameTree::Joliet, joliet) < 0) {
        reader.standIns.erase(kDescriptorBlock);
        return result;
    }
    std::swap(filesystem_, joliet);
    auto kept = std::move(folders_);
    folders_.clear();
    if (RootEntries() > rockRidgeEntries) {
        DiscLibrary::TakeMessages();  // what failed is told as a note instead
        damageNote_ += std::string(damageNote_.empty() ? "" : "; ") +
                       "its Rock Ridge names could not be read, so its Joliet names were used";
        result = ISO_SUCCESS;
    } else {
        std::swap(filesystem_, joliet);
        folders_ = std::move(kept);
        reader.standIns.erase(kDescriptorBlock);
    }
    kept.clear();  // its sources go before the file system they came from
    if (joliet) iso_filesystem_unref(joliet);
    return result;
}

int ImageVolume::OpenTree(iso_data_source* source, NameTree tree, iso_filesystem*& filesystem) {
    // The default options read Rock Ridge names, else Joliet ones without their ";1".
    IsoReadOpts* options = nullptr;
    int result = iso_read_opts_new(&options, 0);
    if (result < 0) return result;
    if (tree == NameTree::Joliet) {
        iso_read_opts_set_no_rockridge(options, 1);
        iso_read_opts_set_preferjoliet(options, 1);
    }
    IsoImageFilesystem* opened = nullptr;
    result = iso_image_filesystem_new(source, options, kNoImageMessageId, &opened);
    iso_read_opts_free(options);
    if (result >= 0) filesystem = opened;
    return result;
}

int ImageVolume::RootEntries() {
    ImageFolder* root = nullptr;
    if (FolderAt("/", root) < 0) return -1;
    return static_cast<int>(root->entries.size());
}

int ImageVolume::FolderAt(const std::string& inner, ImageFolder*& folder) {
    auto kept = folders_.find(inner);
    if (kept != folders_.end()) {
        folder = kept->second.get();
        return folder->failure;
    }
    auto read = std::make_unique<ImageFolder>();
    if (inner == "/") {
        IsoFileSource* root = nullptr;
        int result = filesystem_->get_root(filesystem_, &root);
        if (result < 0) return result;
        read->source.reset(root);
    } else {
        ImageEntry* entry = nullptr;
        int result = EntryAt(inner, entry);
        if (result < 0) return result;
        if (!S_ISDIR(entry->info.st_mode)) return static_cast<int>(ISO_FILE_IS_NOT_DIR);
        iso_file_source_ref(entry->source.get());
        read->source.reset(entry->source.get());
    }
    int result = ReadFolder(read->source.get(), [&](const std::string& name, SourceRef source) {
        ImageEntry entry{name, std::move(source)};
        entry.statResult = iso_file_source_lstat(entry.source.get(), &entry.info);
        read->byName.emplace(name, read->entries.size());
        read->entries.push_back(std::move(entry));
        return true;
    });
    read->failure = result;
    folder = read.get();
    folders_.emplace(inner, std::move(read));
    return result;
}

int ImageVolume::EntryAt(const std::string& inner, ImageEntry*& entry) {
    std::string folderPath, name;
    SplitPath(inner, folderPath, name);
    ImageFolder* folder = nullptr;
    int result = FolderAt(folderPath, folder);
    if (result < 0) return result;
    auto found = folder->byName.find(name);
    if (found == folder->byName.end()) return static_cast<int>(ISO_FILE_DOESNT_EXIST);
    entry = &folder->entries[found->second];
    return entry->statResult;
}

Status ImageVolume::List(const std::string& inner, std::vector<FolderEntry>& entries) {
    entries.clear();
    const std::string shown = path_ + inner;
    DiscLibrary::Lock lock;
    ImageFolder* folder = nullptr;
    int result = FolderAt(inner, folder);
    if (result == static_cast<int>(ISO_FILE_IS_NOT_DIR))
        return Status(Status::Code::NotFound, "Cannot list " + shown + ": it is not a folder");
    if (result < 0) return Failure(result, "Cannot list " + shown);
    entries.reserve(folder->entries.size());
    for (const ImageEntry& entry : folder->entries) {
        FolderEntry listed{entry.name, {}};
        if (entry.statResult >= 0)
            listed.info = InfoOf(entry.info);
        else
            listed.info.kind = FileInfo::Kind::Other;
        entries.push_back(std::move(listed));
    }
    return Status::Ok();
}

Status ImageVolume::Stat(const std::string& inner, FileInfo& info) {
    DiscLibrary::Lock lock;
    struct stat stat {};
    int result = ISO_SUCCESS;
    if (inner == "/") {
        ImageFolder* root = nullptr;
        result = FolderAt(inner, root);
        if (result >= 0) result = iso_file_source_lstat(root->source.get(), &stat);
    } else {
        ImageEntry* entry = nullptr;
        result = EntryAt(inner, entry);
        if (result >= 0) stat = entry->info;
    }
    if (result < 0) return Failure(result, "Cannot examine " + path_ + inner);
    info = InfoOf(stat);
    return Status::Ok();
}

Status ImageVolume::OpenRead(const std::string& inner, std::unique_ptr<File>& file) {
    const std::string shown = path_ + inner;
    const Status notPlain(Status::Code::InvalidArgument,
                          "Cannot open " + shown + ": it is not a plain file");
    if (inner == "/") return notPlain;
    DiscLibrary::Lock lock;
    ImageEntry* entry = nullptr;
    int result = EntryAt(inner, entry);
    if (result < 0) return Failure(result, "Cannot open " + shown);
    if (!S_ISREG(entry->info.st_mode)) return notPlain;
    iso_file_source_ref(entry->source.get());
    SourceRef source(entry->source.get());
    result = iso_file_source_open(source.get());
    if (result == static_cast<int>(ISO_FILE_ALREADY_OPENED)) {
        // libisofs opens a source only once: a file open twice gets a source of its own from
        // its folder read afresh.
        std::string folder, name;
        SplitPath(inner, folder, name);
        source = FindIn(*folders_.at(folder), name);
        result = source ? iso_file_source_open(source.get())
                        : static_cast<int>(ISO_FILE_DOESNT_EXIST);
    }
    if (result < 0) return Failure(result, "Cannot open " + shown);
    file = std::make_unique<ImageFile>(shared_from_this(), std::move(source), shown,
                                       static_cast<std::uint64_t>(entry->info.st_size));
    return Status::Ok();
}

Status ImageVolume::Failure(int result, const std::string& what) {
    Status::Code code = Status::Code::Corrupt;
    std::string why = iso_error_to_msg(result);
    if (result == static_cast<int>(ISO_FILE_DOESNT_EXIST) ||
        result == static_cast<int>(ISO_FILE_IS_NOT_DIR))
        code = Status::Code::NotFound;
    if (reader_ && !reader_->error.ok()) {
        code = reader_->error.code();
        why = reader_->error.message();
        reader_->error = Status::Ok();
    }
    std::string messages = DescribeMessages(DiscLibrary::TakeMessages(), LibrarySeverity::Sorry);
    if (!messages.empty()) why += " (" + messages + ")";
    return Status(code, what + ": " + why);
}

Status ImageIsReadOnly(const std::string& path) {
    return Status(Status::Code::AccessDenied,
                  "Cannot change " + path + ": files on a disc image cannot be changed");
}

}  // namespace corvane
