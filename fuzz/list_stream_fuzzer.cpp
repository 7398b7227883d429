// Listing the files of a stream folder, as expanding it in the restore window or the list
// command does, then collecting it for a restore.

#include <cstddef>
#include <cstdint>

#include "archive/StreamFormat.h"
#include "restore/BackupCatalog.h"
#include "restore/PlainCatalogTree.h"
#include "support/Check.h"
#include "support/InputFileSystem.h"
#include "support/InputStream.h"

using corvane::fuzz::Check;

namespace {

// The stream folder's item: the one folder item that has a record.
corvane::CatalogItem* FindStreamFolder(const corvane::CatalogTree& tree,
                                       const corvane::CatalogItem* parent) {
    for (int i = 0; i < tree.ChildCount(parent); ++i) {
        corvane::CatalogItem* item = tree.Child(parent, i);
        if (item->record && item->record->kind == corvane::kFolderItem) return item;
        if (corvane::CatalogItem* found = FindStreamFolder(tree, item)) return found;
    }
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static corvane::fuzz::InputFileSystem files("/input/USB 0812251430 0.cvn");
    files.SetInput(data, size);

    corvane::BackupStream stream;
    if (!corvane::fuzz::ReadInputStream(files, stream)) return 0;
    corvane::PlainCatalogTree tree;
    corvane::AddBackupStream(tree, stream, {stream.password});
    corvane::CatalogItem* folder = FindStreamFolder(tree, nullptr);
    Check(folder != nullptr, "the stream's folder is in the tree");
    Check(corvane::OpenStreamFolder(tree, folder, files), "an unlocked folder opens");

    for (int i = 0; i < tree.ChildCount(folder); ++i) {
        const corvane::CatalogItem* item = tree.Child(folder, i);
        if (!item->record || item->record->kind != corvane::kFileItem) continue;
        // Restoring the file seeks to its DataSize and reads the fixed fields after it.
        Check(item->record->recordOffset > corvane::kFolderHeaderFixed &&
                  item->record->recordOffset + (corvane::kRecordFixed - 4) <= size,
              "a file's record lies inside the stream");
        Check(!item->record->name.empty(), "a file has a name");
        // The times the file item's tip shows, as the window formats them.
        for (std::int64_t time : {item->record->created, item->record->modified})
            corvane::FormatTime(time, "%A %B %d, %Y  %I%M%p");
    }
    corvane::RestoreEntries entries;
    corvane::CollectForRestore(tree, nullptr, entries);
    Check(entries.size() == 1 && entries.recordOffsets[0] == 0,
          "a listed folder is restored as its whole stream");
    corvane::CatalogOutline(tree);
    return 0;
}
