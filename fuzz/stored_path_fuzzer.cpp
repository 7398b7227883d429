// Folder paths and file names from a stream, turned into paths under the destination: whatever
// the bytes, an accepted one stays inside the destination, and text comes out as UTF-8.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "extract/StoredPath.h"
#include "platform/TextCodec.h"
#include "support/Check.h"
#include "support/PlainPath.h"

using corvane::fuzz::Check;
using corvane::fuzz::IsPlainRelativePath;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view stored(reinterpret_cast<const char*>(data), size);
    const std::string destination = "/restore/here";

    std::string relative;
    if (corvane::StoredFolderToRelative(stored, relative) != corvane::NameUse::Refused) {
        Check(IsPlainRelativePath(relative), "an accepted folder path stays inside: " + relative);
        Check(corvane::IsValidUtf8(relative), "a folder path is UTF-8: " + relative);
        const std::string folder = corvane::PathUnder(destination, relative);
        Check(folder == destination || folder.rfind(destination + "/", 0) == 0,
              "the folder lies under the destination");
    }
    std::string name;
    if (corvane::StoredFileNameToLocal(stored, name) != corvane::NameUse::Refused) {
        Check(!name.empty() && name.find('/') == std::string::npos && IsPlainRelativePath(name),
              "an accepted file name is one plain name: " + name);
        Check(name.size() <= corvane::kMaxLocalName && corvane::IsValidUtf8(name),
              "a file name fits the file system as UTF-8: " + name);
    }
    // Names are written to the disk and shown as UTF-8, whatever system stored them.
    const std::string utf8 = corvane::StoredTextToUtf8(stored);
    Check(corvane::IsValidUtf8(utf8), "stored text becomes valid UTF-8");
    Check(!corvane::IsValidUtf8(stored) || utf8 == stored, "valid UTF-8 is kept as it is");
    Check(corvane::IsValidUtf8(corvane::ShownStoredText(stored)), "shown text is valid UTF-8");
    return 0;
}
