// Disc image files read without mounting them, as the list, browse and restore commands read
// them: every folder listed, the streams in it found and their headers read, every file read
// through.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disc/DiscLibrary.h"
#include "disc/ImageFileSystem.h"
#include "restore/BackupCatalog.h"
#include "support/Check.h"
#include "support/InputFileSystem.h"

namespace {

using corvane::FileInfo;
using corvane::fuzz::Check;

constexpr int kDeepest = 8;
constexpr std::size_t kMostEntries = 256;
constexpr std::size_t kMostBytesRead = 1 << 20;

struct Walk {
    corvane::FileSystem& files;
    std::size_t entries = 0;
    std::size_t bytesRead = 0;
};

void ReadThrough(Walk& walk, const std::string& path, const FileInfo& info) {
    std::unique_ptr<corvane::File> file;
    if (!walk.files.OpenRead(path, file).ok()) return;
    std::uint64_t length = 0;
    Check(file->Length(length).ok() && length == info.size, "a file's length is its listed size");
    std::vector<std::uint8_t> buffer(4096);
    std::uint64_t total = 0;
    for (;;) {
        std::size_t got = 0;
        if (!file->Read(buffer.data(), buffer.size(), got).ok() || got == 0) break;
        total += got;
        walk.bytesRead += got;
        if (walk.bytesRead > kMostBytesRead) break;
    }
    Check(total <= length, "reading a file ends at its length");
    // Back to the middle, as the stream reader seeks to a record.
    std::size_t got = 0;
    if (file->Seek(static_cast<std::int64_t>(length / 2), corvane::SeekFrom::Start).ok())
        file->Read(buffer.data(), buffer.size(), got);
    file->Close();
}

void WalkFolder(Walk& walk, const std::string& folder, int depth) {
    std::vector<corvane::FolderEntry> entries;
    if (!walk.files.ListFolder(folder, entries).ok()) return;
    for (const auto& entry : entries) {
        if (++walk.entries > kMostEntries) return;
        Check(!entry.name.empty() && entry.name.find('/') == std::string::npos &&
                  entry.name != "." && entry.name != "..",
              "a listed name names one entry: " + entry.name);
        const std::string path = folder + "/" + entry.name;
        FileInfo info;
        if (!walk.files.Stat(path, info).ok()) continue;
        if (info.isFolder() && depth < kDeepest) WalkFolder(walk, path, depth + 1);
        if (info.isFile()) ReadThrough(walk, path, info);
    }
    std::vector<corvane::BackupStream> streams;
    if (!corvane::FindStreams(walk.files, folder, streams).ok()) return;
    for (auto& stream : streams) corvane::ReadStreamHeader(walk.files, stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static corvane::DiscLibrary::User library;  // set up once, not per image
    static corvane::fuzz::InputFileSystem input("/input/disc 01.iso");
    static corvane::ImageFileSystem images(input);
    input.SetInput(data, size);

    Walk walk{images};
    WalkFolder(walk, input.path(), 0);
    return 0;
}
