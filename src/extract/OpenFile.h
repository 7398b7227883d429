#pragma once
// "Open" and "Open With..." of a backed-up file: a copy is extracted into the restore window's
// private temporary folder and handed to an application of the desktop.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/BackupKey.h"
#include "extract/ExtractHost.h"
#include "platform/DesktopApps.h"
#include "platform/FileLayer.h"
#include "platform/Message.h"
#include "platform/PrivateTempFolder.h"

namespace corvane {

// Shows a message to the user and returns when it was seen.
using TellUser = std::function<void(const Message& message)>;
// Lets the user pick one of apps for the file at path; nullopt when they cancel.
using ChooseApp = std::function<std::optional<DesktopApp>(const std::string& path,
                                                          const std::vector<DesktopApp>& apps)>;

// Extracts the file whose record's DataSize lies at recordOffset in streamPath into
// tempFolder (created on first use) under its stored name, replacing an earlier copy of that
// name. Returns the copy's path, or "" when nothing is to be launched: the stream, the record
// or the copy failed (also its content against checksums, when given), which is told.
std::string ExtractToTemp(PrivateTempFolder& tempFolder, const std::string& streamPath,
                          std::uint64_t recordOffset, const std::string& fileName,
                          const TellUser& tell, FileSystem& files = DefaultFileSystem(), KeyRing* keys = nullptr,
                          const ListedStreams* catalogue = nullptr);

// Hands path to an application: a folder to the file manager; a file to the default
// application of its type (openWith false) or to the one the user chooses (true, or when the
// type has none). True when an application was started. A missing path does nothing.
bool LaunchPath(const std::string& path, bool openWith, const TellUser& tell,
                const ChooseApp& choose);

}  // namespace corvane
