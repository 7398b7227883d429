#include "extract/OpenFile.h"

#include "extract/ExtractHost.h"
#include "extract/FileExtractor.h"

namespace corvane {

namespace {

constexpr const char* kExtractError = "There was an error extracting the file!";
constexpr const char* kNotFound = "The specified file was not found.";
constexpr const char* kAccessDenied = "The operating system denied access to the specified file.";
constexpr const char* kOpenError = "Error opening!";

void Tell(const TellUser& tell, std::string text) {
    Message message;
    message.text = std::move(text);
    tell(message);
}

// The extractor's host for a copy: it writes into the temporary folder, replaces an earlier
// copy of the same name without asking and passes its messages on. Nobody watches progress.
class TempCopyHost final : public ExtractHost {
  public:
    TempCopyHost(std::string folder, const TellUser& tell, FileSystem& fileSystem)
        : folder_(std::move(folder)), tell_(tell) {
        files = &fileSystem;
    }

    void SetStatus(const std::string&) override {}
    void ShowProgress() override {}
    void SetProgress(int) override {}
    std::string Destination() override { return folder_; }
    MessageAnswer Ask(const Message& message) override {
        tell_(message);
        return MessageAnswer::Ok;
    }
    OverwriteAnswer AskOverwrite(const std::string&) override { return OverwriteAnswer::Yes; }
    // The copy has the name the extractor gave it, a substitute where the folder refuses the
    // stored one.
    void Restored(const std::string& targetPath) override { copy = targetPath; }
    void RestoredUnder(const std::string&, const std::string&) override {}
    // A damaged file is told with the plain message, any other failure with its cause.
    void NotRestored(const std::string&, const std::string& reason) override {
        Tell(tell_, reason == kExtractError ? reason : std::string(kExtractError) + "\n\n" + reason);
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    std::string copy;  // where the copy was restored

  private:
    std::string folder_;
    const TellUser& tell_;
};

// The message for an application that did not start, with the reason below it.
void TellLaunchFailure(const TellUser& tell, const Status& failure) {
    const char* text = kOpenError;
    if (failure.code() == Status::Code::NotFound) text = kNotFound;
    if (failure.code() == Status::Code::AccessDenied) text = kAccessDenied;
    Tell(tell, std::string(text) + "\n\n" + failure.message());
}

}  // namespace

std::string ExtractToTemp(PrivateTempFolder& tempFolder, const std::string& streamPath,
                          std::uint64_t recordOffset, const std::string& fileName,
                          const TellUser& tell, FileSystem& files, KeyRing* keys,
                          const ListedStreams* catalogue) {
    Status s = tempFolder.Create();
    if (!s.ok()) {
        Tell(tell, std::string(kExtractError) + "\n\n" + s.message());
        return {};
    }
    TempCopyHost host(tempFolder.path(), tell, files);
    host.keys = keys;
    host.catalogue = catalogue;
    // Any failure has been told, and a copy left by an earlier Open is not launched instead.
    if (ExtractFileRecord(host, streamPath, recordOffset, fileName) != 0) return {};
    return host.copy;
}

bool LaunchPath(const std::string& path, bool openWith, const TellUser& tell,
                const ChooseApp& choose) {
    FileInfo info;
    if (!DefaultFileSystem().Stat(path, info).ok()) return false;
    if (info.isFolder()) {
        // The file manager, if the desktop has one; nothing is said either way.
        const std::optional<DesktopApp> manager = DefaultAppFor("inode/directory");
        return manager && Launch(*manager, path).ok();
    }
    const std::string type = MimeTypeOf(path);
    std::optional<DesktopApp> app;
    if (!openWith) app = DefaultAppFor(type);
    // A type that no application opens by default goes to the chooser without a word.
    if (!app) app = choose(path, AppsFor(type));
    if (!app) return false;
    const Status s = Launch(*app, path);
    if (!s.ok()) TellLaunchFailure(tell, s);
    return s.ok();
}

}  // namespace corvane
