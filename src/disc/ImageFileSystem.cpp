#include "disc/ImageFileSystem.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "disc/ImageVolume.h"

namespace corvane {

namespace {

constexpr std::int64_t kVolumeIdOffset = 16 * 2048 + 1;  // in the first volume descriptor
constexpr std::string_view kVolumeId = "CD001";
// Images kept open: enough for every disc of a large backup, which a listing visits in turn.
constexpr std::size_t kKeptVolumes = 64;

// Whether the path or one of its ancestors has an image's name.
bool NamesAnImage(std::string_view path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string_view::npos; slash = path.find('/', slash + 1))
        if (HasImageName(path.substr(0, slash))) return true;
    return HasImageName(path);
}

// "/a/b" of the components of text, without empty ones; "/" when there are none.
std::string InnerPath(std::string_view text) {
    std::string inner;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('/', at);
        if (end == std::string_view::npos) end = text.size();
        if (end > at) inner.append("/").append(text.substr(at, end - at));
        at = end + 1;
    }
    return inner.empty() ? "/" : inner;
}

bool SameFile(const FileInfo& a, const FileInfo& b) {
    return a.kind == b.kind && a.size == b.size && a.modified == b.modified &&
           a.created == b.created && a.changed == b.changed;
}

}  // namespace

bool HasImageName(std::string_view path) {
    constexpr std::string_view kEnding = ".iso";
    if (path.size() <= kEnding.size()) return false;
    std::size_t start = path.size() - kEnding.size();
    if (path[start - 1] == '/') return false;
    for (std::size_t i = 0; i < kEnding.size(); ++i) {
        char c = path[start + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kEnding[i]) return false;
    }
    return true;
}

Status ImageFileSystem::HoldsVolume(const std::string& path, bool& holds) {
    holds = false;
    std::unique_ptr<File> file;
    Status status = files_.OpenRead(path, file);
    if (!status.ok()) return status;
    // The primary volume descriptor, else the one after it: a disc whose first descriptor is
    // damaged is still read through its Joliet one.
    Status first;
    for (std::int64_t offset : {kVolumeIdOffset, kVolumeIdOffset + 2048}) {
        char id[kVolumeId.size()];
        std::size_t got = 0;
        status = file->Seek(offset, SeekFrom::Start);
        if (status.ok()) status = file->ReadFull(id, sizeof id, got);
        holds = status.ok() && got == sizeof id && std::memcmp(id, kVolumeId.data(), sizeof id) == 0;
        if (holds) break;
        if (offset == kVolumeIdOffset) first = status;
    }
    file->Close();
    return holds ? Status::Ok() : first;
}

Status ImageFileSystem::Locate(const std::string& path, bool asFolder, Location& where) {
    where = Location{};
    std::string whole = path;
    while (whole.size() > 1 && whole.back() == '/') whole.pop_back();
    // Only a part of the path with an image's name, or a given image, can be an image: any
    // other path is the wrapped file system's, known without a look at the disk (a restore's
    // destination).
    if (!NamesAnImage(whole) && !InGivenImage(whole)) return Status::Ok();
    // The longest part of the path that exists outside any image.
    std::string existing = whole;
    FileInfo info;
    for (;;) {
        Status status = files_.Stat(existing, info);
        if (status.ok()) break;
        std::size_t cut = existing.find_last_of('/');
        if (status.code() != Status::Code::NotFound || cut == std::string::npos || cut == 0)
            return Status::Ok();  // the wrapped file system will answer for the path
        existing.erase(cut);
    }
    const bool image = IsGivenImage(existing) ? !info.isFolder() : info.isFile() && HasImageName(existing);
    if (!image) return Status::Ok();

    const bool inside = existing.size() < whole.size();
    where.volume = KeptVolumeOf(existing, info);
    bool holds = where.volume != nullptr;
    Status status = holds ? Status::Ok() : HoldsVolume(existing, holds);
    if (!holds) {
        if (!inside && !asFolder) return Status::Ok();  // a plain file that ends in ".iso"
        if (!status.ok()) return status;
        return Status(Status::Code::Corrupt,
                      existing + " is not a disc image: it holds no ISO 9660 volume");
    }
    where.image = existing;
    where.inner = InnerPath(std::string_view(whole).substr(existing.size()));
    where.imageInfo = info;
    return Status::Ok();
}

std::vector<std::string> ImageFileSystem::DamageNotes() {
    std::lock_guard<std::mutex> lock(keptMutex_);
    return {damageNotes_.begin(), damageNotes_.end()};
}

bool ImageFileSystem::IsGivenImage(std::string_view path) const {
    return std::find(images_.begin(), images_.end(), path) != images_.end();
}

bool ImageFileSystem::InGivenImage(std::string_view path) const {
    return std::any_of(images_.begin(), images_.end(), [path](const std::string& image) {
        return path.starts_with(image) && (path.size() == image.size() || path[image.size()] == '/');
    });
}

std::shared_ptr<ImageVolume> ImageFileSystem::KeptVolumeOf(const std::string& image,
                                                           const FileInfo& info) {
    std::shared_ptr<ImageVolume> volume, changed;  // changed is freed after the lock below
    std::lock_guard<std::mutex> lock(keptMutex_);
    auto kept = std::find_if(kept_.begin(), kept_.end(),
                             [&](const KeptVolume& k) { return k.image == image; });
    if (kept == kept_.end()) return volume;
    KeptVolume found = std::move(*kept);
    kept_.erase(kept);
    if (!SameFile(found.info, info)) {
        changed = std::move(found.volume);
        return volume;
    }
    volume = found.volume;
    kept_.push_back(std::move(found));
    return volume;
}

Status ImageFileSystem::OpenVolume(const Location& where, std::shared_ptr<ImageVolume>& volume) {
    if (where.volume) {
        volume = where.volume;
        return Status::Ok();
    }
    std::unique_ptr<File> file;
    Status status = files_.OpenRead(where.image, file);
    if (status.ok()) status = ImageVolume::Open(std::move(file), where.image, volume);
    if (!status.ok()) return status;
    // Volumes let go are freed after the lock, since freeing one takes the library's lock.
    std::vector<KeptVolume> dropped;
    std::lock_guard<std::mutex> lock(keptMutex_);
    if (!volume->damageNote().empty()) damageNotes_.insert(where.image + " is damaged: " + volume->damageNote());
    auto earlier = std::find_if(kept_.begin(), kept_.end(),  // kept by another thread meanwhile
                                [&](const KeptVolume& k) { return k.image == where.image; });
    if (earlier != kept_.end()) {
        dropped.push_back(std::move(*earlier));
        kept_.erase(earlier);
    }
    kept_.push_back({where.image, where.imageInfo, volume});
    if (kept_.size() > kKeptVolumes) {
        dropped.push_back(std::move(kept_.front()));
        kept_.pop_front();
    }
    return Status::Ok();
}

Status ImageFileSystem::Changeable(const std::string& path) {
    Location where;
    Status status = Locate(path, false, where);
    if (status.ok() && !where.image.empty()) return ImageIsReadOnly(path);
    return status;
}

Status ImageFileSystem::OpenRead(const std::string& path, std::unique_ptr<File>& file) {
    Location where;
    Status status = Locate(path, false, where);
    if (!status.ok()) return status;
    if (where.image.empty()) return files_.OpenRead(path, file);
    if (where.inner == "/")
        return Status(Status::Code::InvalidArgument,
                      "Cannot open " + path + ": it is a disc image, opened like a folder");
    std::shared_ptr<ImageVolume> volume;
    status = OpenVolume(where, volume);
    if (!status.ok()) return status;
    return volume->OpenRead(where.inner, file);
}

Status ImageFileSystem::ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    Location where;
    Status status = Locate(path, true, where);
    if (!status.ok()) return status;
    if (!where.image.empty()) {
        std::shared_ptr<ImageVolume> volume;
        status = OpenVolume(where, volume);
        if (!status.ok()) return status;
        return volume->List(where.inner, entries);
    }
    status = files_.ListFolder(path, entries);
    if (!status.ok()) return status;
    // Images in a real folder are shown as the folders that Stat says they are.
    const std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
    for (auto& entry : entries) {
        bool holds = false;
        if (entry.info.isFile() && HasImageName(entry.name) &&
            HoldsVolume(prefix + entry.name, holds).ok() && holds)
            entry.info.kind = FileInfo::Kind::Folder;
    }
    return Status::Ok();
}

Status ImageFileSystem::Stat(const std::string& path, FileInfo& info) {
    Location where;
    Status status = Locate(path, false, where);
    if (!status.ok()) return status;
    if (where.image.empty()) return files_.Stat(path, info);
    if (where.inner == "/") {
        info = where.imageInfo;
        info.kind = FileInfo::Kind::Folder;
        return Status::Ok();
    }
    std::shared_ptr<ImageVolume> volume;
    status = OpenVolume(where, volume);
    if (!status.ok()) return status;
    return volume->Stat(where.inner, info);
}

Status ImageFileSystem::OpenWrite(const std::string& path, std::unique_ptr<File>& file) {
    Status status = Changeable(path);
    return status.ok() ? files_.OpenWrite(path, file) : status;
}

bool ImageFileSystem::SameEntry(const std::string& a, const std::string& b) {
    // Outside every image, the wrapped file system answers past its caches.
    if (Changeable(a).ok() && Changeable(b).ok()) return files_.SameEntry(a, b);
    return FileSystem::SameEntry(a, b);
}

Status ImageFileSystem::CreateFolder(const std::string& path) {
    Status status = Changeable(path);
    return status.ok() ? files_.CreateFolder(path) : status;
}

Status ImageFileSystem::OpenWriteBelow(const std::string& top, const std::string& relative,
                                       std::unique_ptr<File>& file) {
    Status status = Changeable(top + "/" + relative);
    return status.ok() ? files_.OpenWriteBelow(top, relative, file) : status;
}

Status ImageFileSystem::CreateFoldersBelow(const std::string& top, const std::string& relative) {
    Status status = Changeable(top + "/" + relative);
    return status.ok() ? files_.CreateFoldersBelow(top, relative) : status;
}

Status ImageFileSystem::RemoveFile(const std::string& path) {
    Status status = Changeable(path);
    return status.ok() ? files_.RemoveFile(path) : status;
}

Status ImageFileSystem::Rename(const std::string& from, const std::string& to) {
    Status status = Changeable(from);
    if (status.ok()) status = Changeable(to);
    return status.ok() ? files_.Rename(from, to) : status;
}

Status ImageFileSystem::SetModifiedTime(const std::string& path, std::int64_t modified) {
    Status status = Changeable(path);
    return status.ok() ? files_.SetModifiedTime(path, modified) : status;
}

}  // namespace corvane
