// Restoring from arbitrary streams into a private scratch folder on the real disk: the whole
// folder stream, then each file the listing finds, and a file at a position the listing did not
// give (a disc swapped for another one with the same stream name). Whatever the stream says,
// nothing is created or changed outside the destination, and the folder around it holds only it.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "archive/StreamFormat.h"
#include "extract/ExtractHost.h"
#include "extract/FileExtractor.h"
#include "support/Check.h"
#include "support/InputFileSystem.h"
#include "platform/TextCodec.h"
#include "support/PlainPath.h"

namespace {

namespace fs = std::filesystem;
using corvane::FileInfo;
using corvane::FileSystem;
using corvane::FolderEntry;
using corvane::Status;
using corvane::fuzz::Check;

constexpr std::size_t kMostSingleFiles = 16;

// The real file system; a change anywhere but inside the destination is a broken property,
// caught before it reaches the disk. Creating the destination and its ancestors is let through:
// the extractor creates every folder of a path, and they exist already.
class ConfinedFileSystem final : public FileSystem {
  public:
    explicit ConfinedFileSystem(std::string destination) : destination_(std::move(destination)) {}

    Status OpenRead(const std::string& path, std::unique_ptr<corvane::File>& file) override {
        return real_.OpenRead(path, file);
    }
    Status OpenWrite(const std::string& path, std::unique_ptr<corvane::File>& file) override {
        Confine(path);
        return real_.OpenWrite(path, file);
    }
    Status ListFolder(const std::string& path, std::vector<FolderEntry>& entries) override {
        return real_.ListFolder(path, entries);
    }
    Status Stat(const std::string& path, FileInfo& info) override { return real_.Stat(path, info); }
    Status CreateFolder(const std::string& path) override {
        if (path != destination_ && destination_.rfind(path + "/", 0) != 0) Confine(path);
        return real_.CreateFolder(path);
    }
    Status OpenWriteBelow(const std::string& top, const std::string& relative,
                          std::unique_ptr<corvane::File>& file) override {
        Check(top == destination_, "files are written below the destination, not " + top);
        Confine(top + "/" + relative);
        return real_.OpenWriteBelow(top, relative, file);
    }
    Status CreateFoldersBelow(const std::string& top, const std::string& relative) override {
        Check(top == destination_, "folders are made below the destination, not " + top);
        if (!relative.empty()) Confine(top + "/" + relative);
        return real_.CreateFoldersBelow(top, relative);
    }
    Status RemoveFile(const std::string& path) override {
        Confine(path);
        return real_.RemoveFile(path);
    }
    Status Rename(const std::string& from, const std::string& to) override {
        Confine(from);
        Confine(to);
        return real_.Rename(from, to);
    }
    Status SetModifiedTime(const std::string& path, std::int64_t modified) override {
        Confine(path);
        return real_.SetModifiedTime(path, modified);
    }

  private:
    void Confine(const std::string& path) const {
        const std::string prefix = destination_ + "/";
        Check(path.rfind(prefix, 0) == 0 &&
                  corvane::fuzz::IsPlainRelativePath(std::string_view(path).substr(prefix.size())),
              "a change only inside the destination, not at " + path);
    }

    std::string destination_;
    FileSystem& real_ = corvane::DefaultFileSystem();
};

// Answers every question: messages with OK, the overwrite prompt with "Yes to all".
class AnsweringHost final : public corvane::ExtractHost {
  public:
    explicit AnsweringHost(std::string destination) : destination_(std::move(destination)) {}

    void SetStatus(const std::string&) override {}
    void ShowProgress() override {}
    void SetProgress(int percent) override {
        Check(percent >= 0 && percent <= 100, "progress within 0..100: " + std::to_string(percent));
    }
    std::string Destination() override { return destination_; }
    corvane::MessageAnswer Ask(const corvane::Message&) override {
        return corvane::MessageAnswer::Ok;
    }
    corvane::OverwriteAnswer AskOverwrite(const std::string&) override {
        return corvane::OverwriteAnswer::YesToAll;
    }
    void Restored(const std::string& target) override { Confined(target); }
    void RestoredUnder(const std::string& shown, const std::string& target) override {
        Check(corvane::IsValidUtf8(shown), "a shown name is UTF-8");
        Confined(target);
    }
    void NotRestored(const std::string& shown, const std::string& reason) override {
        Check(corvane::IsValidUtf8(shown) && !reason.empty(), "what was not restored is named with a reason");
    }
    void BeginWaitCursor() override { ++waitDepth; }
    void EndWaitCursor() override { --waitDepth; }

    int waitDepth = 0;

  private:
    void Confined(const std::string& target) const {
        Check(target.rfind(destination_ + "/", 0) == 0, "a restored file lies inside the destination: " + target);
    }

    std::string destination_;
};

struct Scratch {
    fs::path folder;       // private, from mkdtemp
    fs::path destination;  // its only entry
};

Scratch& TheScratch() {
    static Scratch scratch = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-fuzz-XXXXXX";
        Check(::mkdtemp(pattern.data()) != nullptr, "a private scratch folder");
        Scratch made{pattern, fs::path(pattern) / "dest"};
        fs::create_directory(made.destination);
        std::atexit([] { fs::remove_all(TheScratch().folder); });
        return made;
    }();
    return scratch;
}

// The records a listing of the stream finds, as (position, stored name).
std::vector<std::pair<std::uint64_t, std::string>> ListRecords(FileSystem& files,
                                                               const std::string& path) {
    std::vector<std::pair<std::uint64_t, std::string>> records;
    std::unique_ptr<corvane::File> in;
    if (!files.OpenRead(path, in).ok()) return records;
    corvane::StreamReader reader(*in);
    corvane::FolderHeader header;
    if (!reader.ReadFolderHeader(header).ok()) return records;
    corvane::FileRecord record;
    bool found = false;
    while (records.size() < kMostSingleFiles && reader.NextRecord(record, found).ok() && found)
        records.emplace_back(record.recordOffset, record.fileName);
    return records;
}

void CheckOnlyDestinationAround(const Scratch& scratch) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch.folder))
        names.push_back(entry.path().filename().string());
    Check(names.size() == 1 && names[0] == "dest" && fs::is_directory(scratch.destination),
          "the scratch folder holds the destination folder alone");
}

void EmptyDestination(const Scratch& scratch) {
    for (const auto& entry : fs::directory_iterator(scratch.destination)) fs::remove_all(entry);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Scratch& scratch = TheScratch();
    static ConfinedFileSystem confined(scratch.destination.string());
    // The stream is read from memory, outside the scratch folder.
    static corvane::fuzz::InputFileSystem files("/input/USB 0812251430 0.cvn", &confined);
    files.SetInput(data, size);

    AnsweringHost host(scratch.destination.string());
    host.files = &files;
    host.decodeWorkers = 0;  // the same steps in the same order, without starting threads per input
    corvane::ExtractFolderStream(host, files.path());

    auto singles = ListRecords(files, files.path());
    singles.emplace_back(size / 2, "x");
    for (const auto& [offset, name] : singles) {
        host.cancelRequested = 0;
        corvane::ExtractFileRecord(host, files.path(), offset, name);
    }
    Check(host.waitDepth == 0, "the wait cursor is off again");
    CheckOnlyDestinationAround(scratch);
    EmptyDestination(scratch);
    return 0;
}
