#pragma once
// The file layer with disc image files opened like folders, so that backups recorded into
// image files can be browsed and restored without mounting them.
//
// An image is a regular file whose name ends in ".iso" (any case) and that holds the ISO 9660
// volume descriptor ("CD001" at byte 32769). Its path acts as a folder: Stat says Folder, and
// listing the folder around it says so too; ListFolder("/x/disc 01.iso") lists the image's root
// and OpenRead("/x/disc 01.iso/DATA 0812251430 0.cvn") opens a file in it. Nothing inside an
// image can be changed: write operations there answer AccessDenied. A file named ".iso" that
// holds no volume descriptor stays a plain file, but listing it or opening a path inside it
// answers Corrupt. Every other path goes to the wrapped file system unchanged.
//
// Places named when the object is made are images whatever their names and kinds: the device
// of a drive holding the disc just recorded, the file behind a stdio drive. A place holding no
// volume is treated as a ".iso" file that holds none.
//
// Safe to use from several threads. The images used last are kept open with the folders read
// from them, so that reading every file of a disc reads each folder once. A kept image is used
// again only while its file has the same size and times, the time of its last change in
// nanoseconds among them, so a replaced or rewritten image is opened afresh. An open file keeps
// its image open until it is closed, even past the end of this object.

#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileLayer.h"

namespace corvane {

class ImageVolume;

// Whether a path's last name ends in ".iso" (any case), as a disc image file's does.
bool HasImageName(std::string_view path);

class ImageFileSystem final : public FileSystem {
  public:
    // files must outlive this object; images: places read as disc images whatever their names.
    explicit ImageFileSystem(FileSystem& files, std::vector<std::string> images = {})
        : files_(files), images_(std::move(images)) {}

    Status OpenRead(const std::string& path, std::unique_ptr<File>& file) override;
    Status OpenWrite(const std::string& path, std::unique_ptr<File>& file) override;
    Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override;
    Status Stat(const std::string& path, FileInfo& info) override;
    bool SameEntry(const std::string& a, const std::string& b) override;
    Status CreateFolder(const std::string& path) override;
    Status OpenWriteBelow(const std::string& top, const std::string& relative, std::unique_ptr<File>& file) override;
    Status CreateFoldersBelow(const std::string& top, const std::string& relative) override;
    void KeepWalkedFolders(bool keep) override { files_.KeepWalkedFolders(keep); }
    Status RemoveFile(const std::string& path) override;
    Status SetModifiedTime(const std::string& path, std::int64_t modified) override;
    Status Rename(const std::string& from, const std::string& to) override;

    // One line per image read that was damaged in a way reading works around, "X is damaged: why", so
    // that the damage is told although its files were read.
    std::vector<std::string> DamageNotes() override;

  private:
    // Where a path lies: image is empty for a path outside every image; inner is the path in
    // the image, "/" for the image itself.
    struct Location {
        std::string image;
        std::string inner;
        FileInfo imageInfo;
        std::shared_ptr<ImageVolume> volume;  // the kept volume of the image, if there is one
    };
    // An image kept open, with what its file was like when it was opened.
    struct KeptVolume {
        std::string image;
        FileInfo info;
        std::shared_ptr<ImageVolume> volume;
    };
    // asFolder: the path itself is to be listed, so a plain file named ".iso" is an error.
    Status Locate(const std::string& path, bool asFolder, Location& where);
    // Whether the path is one of the images named at construction, or lies inside one.
    bool InGivenImage(std::string_view path) const;
    bool IsGivenImage(std::string_view path) const;
    // Whether a file holds the ISO 9660 volume descriptor.
    Status HoldsVolume(const std::string& path, bool& holds);
    // The kept volume of an image whose file is still as it was then, or null.
    std::shared_ptr<ImageVolume> KeptVolumeOf(const std::string& image, const FileInfo& info);
    // Ok when the path lies outside every image.
    Status Changeable(const std::string& path);
    // The located image's volume: the kept one, else the image opened afresh and kept.
    Status OpenVolume(const Location& where, std::shared_ptr<ImageVolume>& volume);

    FileSystem& files_;
    const std::vector<std::string> images_;
    std::mutex keptMutex_;
    std::deque<KeptVolume> kept_;  // the one used last at the back
    std::set<std::string> damageNotes_;
};

}  // namespace corvane
