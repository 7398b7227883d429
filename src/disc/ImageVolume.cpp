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

int ReadBlock(IsoDataSource* source, std::uint32_t block, std::uint8_t* buffer) {
    ImageBlockReader& reader = ReaderOf(source);
    if (block < reader.first || block - reader.first >= reader.count) {
        reader.count = 0;
        std::size_t got = 0;
        std::size_t wanted = reader.window.size();
        if (block < reader.volumeBlocks)
            wanted = std::min<std::size_t>(wanted, std::size_t{reader.volumeBlocks - block} * kBlock);
        else if (reader.volumeBlocks > 0)
            wanted = kBlock;  // past the volume, as a damaged record may point: that block alone
        Status status =
            reader.file->Seek(static_cast<std::int64_t>(block) * kBlock, SeekFrom::Start);
        if (status.ok()) status = reader.file->ReadFull(reader.window.data(), wanted, got);
        if (status.ok() && got < kBlock)
            status = Status(Status::Code::Corrupt, "the image file ends early (it was cut short)");
        if (!status.ok()) {
            reader.error = status;
            return static_cast<int>(ISO_DATA_SOURCE_MISHAP);
        }
        reader.first = block;
        reader.count = static_cast<std::uint32_t>(got / kBlock);
        reader.error = Status::Ok();
    }
    std::memcpy(buffer, reader.window.data() + (block - reader.first) * kBlock, kBlock);
    return ISO_SUCCESS;
}

void FreeReader(IsoDataSource* source) { delete &ReaderOf(source); }

constexpr std::uint32_t kDescriptorBlock = 16;     // the primary volume descriptor
constexpr std::size_t kVolumeSpaceSizeOffset = 80;  // where it gives the volume's blocks

// The volume's size in blocks as its primary volume descriptor gives it; 0 when the descriptor
// cannot be read (libisofs then says what is wrong with the image).
std::uint32_t VolumeBlocks(File& image) {
    unsigned char descriptor[kBlock];
    std::size_t got = 0;
    if (!image.Seek(std::int64_t{kDescriptorBlock} * kBlock, SeekFrom::Start).ok() ||
        !image.ReadFull(descriptor, sizeof descriptor, got).ok() ||
        !VolumeIdOfDescriptor(descriptor, got))
        return 0;
    const std::uint32_t blocks = GetU32(descriptor + kVolumeSpaceSizeOffset);
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

    // The default options read Rock Ridge names, else Joliet ones without their ";1".
    IsoReadOpts* options = nullptr;
    int result = iso_read_opts_new(&options, 0);
    if (result >= 0) {
        IsoImageFilesystem* filesystem = nullptr;
        result = iso_image_filesystem_new(source, options, kNoImageMessageId, &filesystem);
        iso_read_opts_free(options);
        if (result >= 0) opened->filesystem_ = filesystem;
    }
    if (result < 0) return opened->Failure(result, "Cannot read the disc image " + path);
    volume = std::move(opened);
    return Status::Ok();
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
