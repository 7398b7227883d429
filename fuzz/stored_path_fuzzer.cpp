// Folder paths and file names from a stream, turned into paths under the destination: whatever
// the bytes, an accepted one stays inside the destination.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "extract/StoredPath.h"
#include "support/Check.h"
#include "support/PlainPath.h"

using corvane::fuzz::Check;
using corvane::fuzz::IsPlainRelativePath;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view stored(reinterpret_cast<const char*>(data), size);
    const std::string destination = "/restore/here";

    std::string relative;
    if (corvane::StoredFolderToRelative(stored, relative)) {
        Check(IsPlainRelativePath(relative), "an accepted folder path stays inside: " + relative);
        const std::string folder = corvane::PathUnder(destination, relative);
        Check(folder == destination || folder.rfind(destination + "/", 0) == 0,
              "the folder lies under the destination");
    }
    std::string name;
    if (corvane::StoredFileNameToLocal(stored, name)) {
        Check(!name.empty() && name.find('/') == std::string::npos && IsPlainRelativePath(name),
              "an accepted file name is one plain name: " + name);
    }
    corvane::ShownStoredText(stored);
    return 0;
}
