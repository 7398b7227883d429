#pragma once
// The backup tree as the restore window and the list command build it: one item per drive
// label, below it one item per backup, below that the backed-up folders and, once a folder
// is listed, its files. The operations work on any tree that implements CatalogTree: the
// window's widget tree and the command line's plain tree share them.

#include <cstdint>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/BackupKey.h"
#include "archive/SetCatalogueFormat.h"
#include "restore/KnownSet.h"
#include "platform/FileLayer.h"
#include "platform/Status.h"

namespace corvane {

enum ItemKind { kFolderItem = 0, kFileItem = 1 };

// The record behind every stream-folder item and every file item.
struct CItemData {
    int kind = kFolderItem;
    std::string name;        // stored bytes: the folder's last path component ("ROOT" for the
                             // drive's root), or the file name
    std::string streamPath;  // the stream file, in the file system the tree was read from; for
                             // a stream on a disc that is not present, its file name
    std::uint64_t recordOffset = 0;  // files: position of DataSize in the stream; folders: 0
    std::string password;            // folders: the stream's stored Password; for an encrypted
                                     // stream, its stored key parameters (see BackupKey.h)
    int locked = 0;                  // 1 while the folder is shown as "<protected>"
    std::int64_t created = 0;
    std::int64_t modified = 0;
    std::uint32_t absentDisc = 0;  // the disc that holds it, when that disc is not present
};

// How an item is drawn; each tree maps it to its own pictures.
enum class ItemLook { Drive, Backup, Folder, LockedFolder, File, Placeholder };

// An item of a CatalogTree. Trees derive their own items from it; Insert and SetLook keep
// look up to date.
class CatalogItem {
  public:
    virtual ~CatalogItem() = default;
    std::unique_ptr<CItemData> record;  // stream folders and files only
    ItemLook look = ItemLook::Folder;
};

// What the catalog needs of a tree. A null parent stands for the top level.
class CatalogTree {
  public:
    virtual ~CatalogTree() = default;
    virtual int ChildCount(const CatalogItem* parent) const = 0;
    virtual CatalogItem* Child(const CatalogItem* parent, int index) const = 0;
    // Texts are UTF-8.
    virtual std::string Text(const CatalogItem* item) const = 0;
    // A new item at index among parent's children.
    virtual CatalogItem* Insert(CatalogItem* parent, int index, const std::string& text,
                                ItemLook look) = 0;
    virtual void SetLook(CatalogItem* item, const std::string& text, ItemLook look) = 0;
    // Removes an item with everything below it, records included.
    virtual void DeleteSubtree(CatalogItem* item) = 0;
};

// A backup stream file: what its name says and, once read, its folder header.
struct BackupStream {
    std::string path;       // full path in its file system
    std::string label;      // drive label
    std::string timeStamp;  // "yymmddHHMM"
    long long sequence = 0;
    std::string folderPath;  // "\" for the drive's root, "\Docs\2008" below it
    std::string password;    // stored Password, up to its first zero byte
    // An encrypted stream: its key parameters and, once a password opened it, its key (its
    // folderPath is then the real one; until then it is the stored text, shown as protected).
    bool sealed = false;
    KeyParameters parameters;
    std::shared_ptr<const BackupKey> key;
    // A stream the catalogue knows on a disc that is not present: its disc, and the files the
    // catalogue lists for it (path is then its file name).
    std::uint32_t absentDisc = 0;
    const std::vector<CatalogueFile>* absentFiles = nullptr;
};

// Appends the streams of one folder (names ending in ".cvn", any case) with their name parts.
// A name without the usual "<label> <stamp> <number>" shape is kept: its whole title is the
// label and its time stamp is empty.
Status FindStreams(FileSystem& files, const std::string& folder,
                   std::vector<BackupStream>& streams);

// Appends the streams of each place: a folder or a disc image (.iso), with the streams of
// the disc images a folder holds, and the paths of the backups' catalogues (*.catalog) there
// when catalogues is given. Returns one line per place that gives nothing, named with why
// ("X was skipped: it is not a disc image"); the rest are read all the same.
std::vector<std::string> FindStreamsInPlaces(FileSystem& files,
                                             const std::vector<std::string>& places,
                                             std::vector<BackupStream>& streams,
                                             std::vector<std::string>* catalogues = nullptr);

// A stream the catalogue knows on a disc that is not present, as the tree places it: an
// encrypted or protected one stays locked, as its stream would show it.
BackupStream AbsentBackupStream(const CatalogueStream& stream, const std::vector<CatalogueFile>& files);

// One line per gap in the numbers of a backup's streams ("streams 3–4 of DATA 0812251430 were
// not found: is a disc missing?"). A backup numbers its streams from 0 on, across its discs,
// so a missing first disc shows; a missing last one cannot be told from the streams (the
// catalogue tells it: FollowingDiscMessage).
std::vector<std::string> MissingStreamMessages(const std::vector<BackupStream>& streams);

// Puts streams in the order a backup wrote them: by label, time stamp and sequence number (as a
// number), so every folder comes before its sub-folders whatever order the folders listed.
void SortStreams(std::vector<BackupStream>& streams);

// Reads a stream's folder header into folderPath and password; Corrupt when it is damaged. An
// encrypted stream is opened with the keys of the ring when one fits; Corrupt too when it was
// written as another stream or for another backup.
Status ReadStreamHeader(FileSystem& files, BackupStream& stream, KeyRing* keys = nullptr);

// Reads the headers of streams found, in turn, keeping one stream per file name: a disc given
// twice, the same image by two paths, or a folder and an image in it is read once. A stream
// that cannot be read is named only when no copy of it reads.
// A plain stream that a catalogue lists takes its folder and whether it is protected from the
// catalogue, which a checksum guards: a header that cannot be read, or that says otherwise, is
// named in Notes and the stream is read all the same.
class StreamHeaderReader {
  public:
    explicit StreamHeaderReader(FileSystem& files, KeyRing* keys = nullptr,
                                const std::vector<KnownSet>* catalogued = nullptr)
        : files_(files), keys_(keys), catalogued_(catalogued) {}
    // True when the header is read into stream and no copy of the stream was read before.
    bool Read(BackupStream& stream);
    // "X was left out: why" for every stream read in vain.
    std::vector<std::string> Unreadable() const;
    // One line for each header that the catalogue was trusted over.
    std::vector<std::string> Notes() const;

  private:
    // Puts the catalogue's word in place of a header that is unreadable (status) or differs;
    // false when the stream is still to be left out: its password is lost.
    bool TakeCatalogued(const CatalogueStream& listed, BackupStream& stream, Status& status);

    FileSystem& files_;
    KeyRing* keys_;
    const std::vector<KnownSet>* catalogued_;
    std::set<std::string> read_;
    std::map<std::string, std::string> unreadable_;  // file name -> line
    std::map<std::string, std::string> notes_;       // file name -> line
};

// Places a stream's folder in the tree below its drive and backup items, with a placeholder
// child until its files are listed; a stream on a disc that is not present is marked
// "(on disc N)" and gets the files the catalogue lists, unless it is locked. It is shown as "<protected>" unless it has no password or
// its password is in unlockedPasswords; an encrypted one unless its key was found. Returns the
// drive item.
CatalogItem* AddBackupStream(CatalogTree& tree, const BackupStream& stream,
                             const std::vector<std::string>& unlockedPasswords);

// The discs that are not present holding item or items below it, lowest first, each as "disc 2
// of DATA 0812251430". Streams named in passOver (by file name) do not count.
std::vector<std::string> AbsentDiscsBelow(const CatalogTree& tree, const CatalogItem* item,
                                          const std::set<std::string>& passOver = {});

// Whether item or an item below it stands for the stream of that file name, present or not.
bool HoldsStream(const CatalogTree& tree, const CatalogItem* item, std::string_view streamName);

// What item and the items below it hold on discs that are not present, by stream file name:
// the record offsets of the files, or none when the stream's whole folder is below item.
// Streams named in passOver do not count.
std::map<std::string, std::set<std::uint64_t>> AbsentFilesBelow(const CatalogTree& tree, const CatalogItem* item,
                                                                 const std::set<std::string>& passOver = {});

// The placeholder of a stream folder whose files have not been listed, or null.
CatalogItem* FindPlaceholder(const CatalogTree& tree, const CatalogItem* folder);

// Inserts one item per file record of a stream folder's stream, sorted among its children.
// The listing ends where the stream is damaged, and the damage is returned.
// Encrypted streams are read with the keys of the ring.
Status ListStreamFiles(CatalogTree& tree, CatalogItem* folder, FileSystem& files, KeyRing* keys = nullptr);

// The first expansion of a stream folder: replaces its placeholder by its files. False when
// there is nothing to do: no placeholder (listed already, or not a stream folder), or the
// folder is still locked. A listing cut short by damage sets *damage when given.
bool OpenStreamFolder(CatalogTree& tree, CatalogItem* folder, FileSystem& files,
                      Status* damage = nullptr, KeyRing* keys = nullptr);

// Whether a stream's folder stays locked: it has a password that unlockedPasswords lacks, or
// it is encrypted and no password opened it.
bool StreamLocked(const BackupStream& stream, const std::vector<std::string>& unlockedPasswords);

// Shows every locked folder whose stored password is exactly password with its name.
void UnlockPassword(CatalogTree& tree, const std::string& password);

// Places every locked encrypted folder that a key of the ring opens at its real path, shown
// with its name: its header is read again with the key.
void UnlockSealed(CatalogTree& tree, FileSystem& files, KeyRing& keys);

// True when a typed password opens a stored one: both compared without trailing white space,
// with case. typed is UTF-8.
bool PasswordMatches(const std::string& typed, const std::string& stored);

// What "Restore..." hands to extraction: parallel lists, one entry per thing to extract.
struct RestoreEntries {
    std::vector<std::string> streamPaths;
    std::vector<std::uint64_t> recordOffsets;  // 0: the whole folder stream
    std::vector<std::string> itemNames;        // stored name: the file name, or the folder's
    // The stored password a folder entry still needs ("" when none): a folder shown as
    // "<protected>" is collected too, and extraction must ask for it or leave it out.
    std::vector<std::string> lockedPasswords;
    // The entry's folders and name as the tree shows them, "/"-separated UTF-8 from the drive's
    // root ("Docs/<protected>"): for messages, which never show the name of a locked folder.
    std::vector<std::string> shownPaths;
    // Another disc is asked for once these are restored.
    bool moreDiscsFollow = false;

    std::size_t size() const { return streamPaths.size(); }
};

// The texts of an item's folder and file items from the top down, as the tree shows them.
// Drive and backup items are left out; shownAbove is the path of the parent.
std::string ShownItemPath(const CatalogTree& tree, const CatalogItem* item, const std::string& shownAbove);

// Collects item and everything below it, children before their parent. A stream folder's
// entry stands for its whole stream and replaces the entries of its own files. shownPath is
// the item's ShownItemPath. Items on discs not present are left out, and so are the streams
// named in passOver (by file name).
void CollectForRestore(const CatalogTree& tree, const CatalogItem* item, RestoreEntries& entries,
                       const std::string& shownPath = {}, const std::set<std::string>& passOver = {});

// A time as local time in a strftime pattern; empty when it cannot be shown.
std::string FormatTime(std::int64_t time, const char* pattern);

// The tree as indented text, two spaces a level, placeholders left out.
std::string CatalogOutline(const CatalogTree& tree);

}  // namespace corvane
