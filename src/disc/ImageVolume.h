#pragma once
// One ISO 9660 image file opened for reading through libisofs: its folders listed, its files
// examined and read. Names come from Rock Ridge when the image has it, else from Joliet, else
// from the plain ISO 9660 tree. The image's bytes are read through the file layer.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "disc/DiscLibrary.h"
#include "platform/FileLayer.h"
#include "platform/Status.h"

struct iso_data_source;
struct iso_filesystem;

namespace corvane {

struct ImageBlockReader;
struct ImageEntry;
struct ImageFolder;

class ImageVolume : public std::enable_shared_from_this<ImageVolume> {
  public:
    // Reads the image held in `image`, a file opened for reading; path names the image in
    // messages. Corrupt for a file that is not a readable ISO 9660 image.
    static Status Open(std::unique_ptr<File> image, const std::string& path,
                       std::shared_ptr<ImageVolume>& volume);
    ~ImageVolume();
    ImageVolume(const ImageVolume&) = delete;
    ImageVolume& operator=(const ImageVolume&) = delete;

    // Paths inside the image start with "/"; "/" is its root.
    Status List(const std::string& inner, std::vector<FolderEntry>& entries);
    Status Stat(const std::string& inner, FileInfo& info);
    // The file keeps the volume open until it is closed or destroyed.
    Status OpenRead(const std::string& inner, std::unique_ptr<File>& file);

    // What is wrong with the image that reading it works around ("its Rock Ridge names could
    // not be read, so its Joliet names were used"), or "".
    const std::string& damageNote() const { return damageNote_; }

    // The status for a failed libisofs call (its negative result) about what, with the reason a
    // read of the image failed, if one did, and the library's messages. Needs a DiscLibrary::Lock.
    Status Failure(int result, const std::string& what);

  private:
    explicit ImageVolume(std::string path);
    enum class NameTree { RockRidge, Joliet };
    // Opens the file system of the image's names, through Joliet where the Rock Ridge names
    // cannot be read; libisofs's result. Needs a Lock.
    int OpenNames(iso_data_source* source);
    // Opens the image's file system reading the names of tree; libisofs's result. Needs a Lock.
    static int OpenTree(iso_data_source* source, NameTree tree, iso_filesystem*& filesystem);
    // The entries of the root folder as the file system read, or -1 when it cannot be read.
    int RootEntries();
    // A folder read once and kept, or an entry of one; libisofs's result. Need a Lock. Paths
    // are looked up one name at a time here: libisofs's own get_by_path crashes in a folder
    // holding a record whose name could not be decoded.
    int FolderAt(const std::string& inner, ImageFolder*& folder);
    int EntryAt(const std::string& inner, ImageEntry*& entry);

    DiscLibrary::User library_;  // first: the library objects below go before it
    std::string path_;
    ImageBlockReader* reader_ = nullptr;  // owned by source_
    iso_data_source* source_ = nullptr;
    iso_filesystem* filesystem_ = nullptr;
    std::map<std::string, std::unique_ptr<ImageFolder>> folders_;  // by path inside the image
    std::string damageNote_;
};

// AccessDenied: nothing on a disc image can be changed.
Status ImageIsReadOnly(const std::string& path);

}  // namespace corvane
