// The scan of a stream's folder header, as listing and the restore window do it: read the
// header, then place the folder in the backup tree.

#include <cstddef>
#include <cstdint>

#include "archive/StreamFormat.h"
#include "restore/BackupCatalog.h"
#include "restore/PlainCatalogTree.h"
#include "support/Check.h"
#include "support/InputFileSystem.h"
#include "support/InputStream.h"

using corvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static corvane::fuzz::InputFileSystem files("/input/USB 0812251430 0.cvn");
    files.SetInput(data, size);

    corvane::BackupStream stream;
    if (!corvane::fuzz::ReadInputStream(files, stream)) return 0;
    Check(!stream.folderPath.empty() && stream.folderPath.size() <= corvane::kMaxStoredText,
          "a folder path of 1 to 259 bytes");
    Check(stream.password.size() <= corvane::kPasswordLength, "a password of at most 16 bytes");

    // Locked as read, and again once its password is known.
    for (bool unlocked : {false, true}) {
        corvane::PlainCatalogTree tree;
        std::vector<std::string> passwords;
        if (unlocked) passwords.push_back(stream.password);
        corvane::CatalogItem* drive = corvane::AddBackupStream(tree, stream, passwords);
        Check(drive != nullptr && tree.ChildCount(nullptr) == 1, "one drive item");
        corvane::UnlockPassword(tree, stream.password);
        corvane::CatalogOutline(tree);
    }
    return 0;
}
