#pragma once
// The restore window: every backup found in its stream sources as a tree, read by a worker
// thread while the user can already browse. Its context menu opens, restores and describes
// the item under the mouse.

#include <QDialog>
#include <QThread>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/RoleChoice.h"
#include "platform/FileLayer.h"
#include "platform/PrivateTempFolder.h"
#include "restore/BackupCatalog.h"
#include "restore/CMyTree.h"
#include "restore/CPW.h"
#include "restore/KnownSet.h"

class QFrame;
class QLabel;

namespace corvane {

// Which context-menu commands apply to an item (null: empty tree space).
struct ContextMenuState {
    bool fileCommands = false;  // "Open", "Open With..." and "Properties": a file item
    bool restore = false;       // "Restore...": any item below a drive item
};

class CRestore : public QDialog {
    Q_OBJECT
  public:
    // sources are folders of backup streams in files, which the scan thread and the GUI thread
    // use at once. By default: the current folder on the real file system, as when the program
    // is started from a backup disc.
    explicit CRestore(std::vector<std::string> sources = {CurrentFolder()},
                      FileSystem* files = &DefaultFileSystem(), QWidget* parent = nullptr);
    ~CRestore() override;

    static ContextMenuState ContextMenuStateFor(QTreeWidgetItem* item);

    // A password the user has typed correctly: every folder protected by it opens, now and
    // when the scan adds more.
    void AcceptPassword(const std::string& password);
    // What the password prompt for expected accepted: a stored password, or the key of an
    // encrypted backup, whose folders then move to their real places, named.
    void AcceptPrompt(const CPW& prompt, const std::string& expected);

    // Places the controls for the window's size.
    void LayoutControls();

    // Temporary copies made by "Open" and "Open With..."; deleted with the window.
    std::vector<std::string> tempFiles;
    // The most streams the scan adds to the tree in one turn of the event loop, so that many
    // streams read at once never hold the window up while they are added.
    static constexpr std::size_t kStreamsPerTurn = 256;

    // Cancel during the scan stops it after the stream being read.
    std::atomic<int> cancelRequested{0};
    // 0 while the scan runs; Cancel closes the window only when it is 1. GUI thread only.
    int scanFinished = 1;
    // Stored passwords typed correctly in this window. Only touched on the GUI thread: the scan
    // hands every stream to the GUI thread, where AddBackupStream reads this list, so it needs
    // no lock.
    std::vector<std::string> unlockedPasswords;
    // The keys of encrypted backups opened in this window, from the passwords typed; the scan
    // thread reads streams with it too.
    KeyRing keys;
    CMyTree* tree = nullptr;

    // The destination the Restore dialog starts with; the extractor keeps it up to date.
    std::string* lastDestination = nullptr;

    // "Restore...": the entries collected from the selected item, once for what is present and
    // once more after each disc asked for is read. By default RunExtract.
    std::function<void(RestoreEntries& entries)> runExtract;
    // "Open", "Open With..." and a double click, on the selected item. By default OpenItem.
    std::function<void(QTreeWidgetItem* item, bool openWith)> openItem;
    // Extracts a file item into the window's private folder and hands the copy to its
    // application (openWith: to the chooser). Folder items open nothing.
    void OpenItem(QTreeWidgetItem* item, bool openWith);
    // Where the copies of "Open" live; removed with everything in it when the window goes.
    PrivateTempFolder tempFolder;

  public slots:
    // Cancel, Escape and the close box: stops a running scan, else closes the window.
    void reject() override;
    void OnRaiseInstance(quint32 key);
    void OnOpen();
    void OnOpenWith();
    void OnRestore();
    void OnProperties();
    // Asks for the password of every protected folder among the entries (leaving out, and
    // naming, those whose password is not given), then runs the Restore dialog on the rest.
    void RunExtract(RestoreEntries& entries);

  signals:
    // The scan has ended and every stream it read is in the tree.
    void scanEnded();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void BuildControls();
    void OnInitDialog();
    void ScanWorker();
    // Reads the places again from the start (after a disc change, or an image added), keeping
    // what the catalogues read before knew.
    void Rescan();
    // The item that stands at the path of names (record names, else texts) from the top, or null.
    CTreeItem* FindItem(const std::vector<std::string>& names) const;
    std::vector<std::string> NamesOf(const CTreeItem* item) const;
    // Asks for a disc and, on Retry, reads the places again: true with item found again, false
    // when the user cancels or the places read now know nothing of item.
    bool AskForDisc(CTreeItem*& item, const std::string& disc);
    // Before a restore that needs discs not present: the discs it asks for later, and the lines
    // of the discs after the last one known that may hold more of it.
    void TellWhatIsAbsent(const std::vector<std::string>& discs, const std::vector<std::string>& following);
    // The closing message of a restore that spanned discs not present: the files restored, and
    // what was not, ending with notGiven, the files on the discs never given.
    void TellHowTheRestoreEnded(const std::vector<std::string>& notGiven);
    // Worker: hands a stream read (null: the scan has read its last) to the GUI thread.
    void HandOver(BackupStream* stream);
    // GUI thread: adds up to kStreamsPerTurn streams handed over and comes back for the rest;
    // ends the scan after the last one.
    void AddReadStreams();
    void ScanEnded();
    void OnItemExpanded(QTreeWidgetItem* item);
    // "Restore..." during the scan: waits for its end with the wait cursor, the notice saying
    // so. False when the scan was stopped, so that its list is not whole.
    bool WaitForScan();
    void ShowContextMenu(const QPoint& position);

    std::vector<std::string> sources_;
    FileSystem* files_;
    std::unique_ptr<QThread> worker_;
    // Streams read and not yet in the tree. A call of AddReadStreams is queued (addPosted_)
    // only when none is waiting, so a fast scan costs the GUI thread few calls.
    std::mutex readMutex_;
    std::deque<BackupStream> readStreams_;
    bool readingDone_ = false;
    bool addPosted_ = false;
    // What the scan could not read: places, gaps in a backup's streams, damaged streams. Shown
    // once when the scan ends.
    std::vector<std::string> scanProblems_;
    // For each backup whose newest catalogue says more discs follow than are present: the file
    // name of its last stream known, and the line that names the disc after it. Written by the
    // scan under readMutex_ before it ends.
    std::map<std::string, std::string> followingDiscs_;
    // The backups as the newest catalogues read know them: the scan thread's while it runs, the
    // GUI thread's after; and the checksums of their files' content that restores check.
    std::vector<KnownSet> knownSets_;
    ListedStreams catalogue_;
    // What the Restore dialogs of one "Restore..." came to.
    struct RestoreTally {
        bool abandoned = false;  // a Restore dialog was closed before it ran: the restore ends
        int restored = 0;
        std::vector<std::string> notRestored;
    };
    RestoreTally tally_;
    QFrame* separator_ = nullptr;
    QLabel* notice_ = nullptr;
};

}  // namespace corvane
