#include "restore/CRestore.h"

#include <QApplication>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QMenu>

#include <algorithm>
#include <iterator>
#include <set>

#include "app/RaiseInstance.h"
#include "extract/CExtract.h"
#include "extract/COpenWith.h"
#include "extract/OpenFile.h"
#include "extract/StoredPath.h"
#include "platform/Prompt.h"
#include "platform/DialogUnits.h"
#include "platform/TextCodec.h"
#include "restore/CPW.h"
#include "restore/CProps.h"

namespace corvane {

namespace {

// Pixel places of the controls that follow the window's size.
constexpr int kTreeLeft = 122;
constexpr int kSeparatorLeft = 119;
constexpr int kSeparatorWidth = 2;
constexpr int kNoticeLeft = 2;
constexpr int kNoticeWidth = 116;
constexpr int kNoticeHeight = 30;

class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

CRestore::CRestore(std::vector<std::string> sources, FileSystem* files, QWidget* parent)
    : QDialog(parent), sources_(std::move(sources)), files_(files) {
    setWindowTitle(QStringLiteral("Corvane- Restore"));
    setWindowIcon(QIcon(QStringLiteral(":/res/program.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    BuildControls();
    OnInitDialog();
}

CRestore::~CRestore() {
    cancelRequested = 1;
    if (worker_) worker_->wait();
    for (const std::string& path : tempFiles) DefaultFileSystem().RemoveFile(path);
}

void CRestore::BuildControls() {
    setFont(DialogFont());
    DialogUnits du(font());
    resize(du.x(356), du.y(269));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/res/side.png")));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setGeometry(QRect(QPoint(0, 0), picture->pixmap().size()));

    separator_ = new QFrame(this);
    separator_->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    PlaceControl(separator_, du, 1022, 82, 134, 20, 20);

    notice_ = new QLabel(QStringLiteral("Right-click a folder or file to restore it."), this);
    PlaceControl(notice_, du, 1021, 7, 238, 65, 24);
    notice_->setWordWrap(true);
    notice_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    tree = new CMyTree(this);
    PlaceControl(tree, du, 1001, 111, 7, 213, 221);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this, &CRestore::ShowContextMenu);
    connect(tree, &QTreeWidget::itemExpanded, this, &CRestore::OnItemExpanded);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, &CRestore::OnOpen);
}

void CRestore::OnInitDialog() {
    scanFinished = 0;
    tree->SetShowLoadingCursor(true);
    worker_.reset(QThread::create([this] { ScanWorker(); }));
    worker_->start(QThread::LowPriority);
    LayoutControls();
}

void CRestore::ScanWorker() {
    // Every source first, then the streams in the order the backup wrote them, so a folder is
    // always placed before its sub-folders. What cannot be read is named when the scan ends.
    std::vector<BackupStream> streams;
    std::vector<std::string> cataloguePaths;
    std::vector<std::string> problems = FindStreamsInPlaces(*files_, sources_, streams, &cataloguePaths);
    SortStreams(streams);
    for (std::string& line : MissingStreamMessages(streams)) problems.push_back(std::move(line));
    KeepNewest(knownSets_, ReadNewestCatalogues(*files_, cataloguePaths, problems));
    StreamHeaderReader reader(*files_, &keys, &knownSets_);
    std::vector<std::string> presentPaths;
    for (BackupStream& stream : streams) {
        if (cancelRequested) break;
        presentPaths.push_back(stream.path);
        if (reader.Read(stream)) HandOver(&stream);
    }
    // The folders of discs not present, as the catalogue knows them; a folder that came
    // before its parent is taken over by it, so they may come last.
    for (const KnownStream* known : AbsentStreams(knownSets_, presentPaths)) {
        if (cancelRequested) break;
        BackupStream stream = AbsentBackupStream(known->stream, known->files);
        HandOver(&stream);
    }
    for (std::string& line : reader.Unreadable()) problems.push_back(std::move(line));
    for (std::string& line : reader.Notes()) problems.push_back(std::move(line));
    for (std::string& line : files_->DamageNotes()) problems.push_back(std::move(line));
    std::map<std::string, std::string> following;
    for (const KnownSet& set : knownSets_) {
        if (std::string line = FollowingDiscMessage(set, presentPaths); !line.empty()) {
            problems.push_back(line);
            following[LastStream(set)->stream.name] = line;
        }
    }
    {
        std::lock_guard<std::mutex> lock(readMutex_);
        scanProblems_ = std::move(problems);
        followingDiscs_ = std::move(following);
    }
    HandOver(nullptr);
}

void CRestore::HandOver(BackupStream* stream) {
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(readMutex_);
        if (stream)
            readStreams_.push_back(std::move(*stream));
        else
            readingDone_ = true;
        post = !addPosted_;
        addPosted_ = true;
    }
    if (post) QMetaObject::invokeMethod(this, [this] { AddReadStreams(); }, Qt::QueuedConnection);
}

void CRestore::AddReadStreams() {
    std::vector<BackupStream> batch;
    bool more = false, last = false;
    {
        std::lock_guard<std::mutex> lock(readMutex_);
        const auto end = readStreams_.begin() +
                         static_cast<std::ptrdiff_t>(std::min(readStreams_.size(), kStreamsPerTurn));
        batch.assign(std::make_move_iterator(readStreams_.begin()), std::make_move_iterator(end));
        readStreams_.erase(readStreams_.begin(), end);
        more = !readStreams_.empty();
        last = !more && readingDone_;
        addPosted_ = more;
    }
    for (BackupStream& stream : batch) {
        // Read before its backup's password was given: read again with the key.
        if (stream.sealed && !stream.key && keys.KeyFor(stream.parameters)) ReadStreamHeader(*files_, stream, &keys);
        AddBackupStream(*tree, stream, unlockedPasswords);
    }
    // Queued again, the rest waits behind the events that came meanwhile.
    if (more) QMetaObject::invokeMethod(this, [this] { AddReadStreams(); }, Qt::QueuedConnection);
    if (last) ScanEnded();
}

void CRestore::Rescan() {
    if (worker_) worker_->wait();
    tree->clear();
    cancelRequested = 0;
    {
        std::lock_guard<std::mutex> lock(readMutex_);
        readingDone_ = false;
    }
    OnInitDialog();
}

void CRestore::ScanEnded() {
    tree->SetShowLoadingCursor(false);
    scanFinished = 1;
    catalogue_ = ListedStreamsOf(knownSets_);
    std::vector<std::string> problems;
    {
        std::lock_guard<std::mutex> lock(readMutex_);
        problems.swap(scanProblems_);
    }
    const bool warn = !problems.empty() && !cancelRequested;
    if (warn) notice_->setText(QStringLiteral("Not everything on the discs could be read."));
    emit scanEnded();
    if (!warn) return;
    Ask(this, {ListedLines("Not everything on the discs could be read:\n", problems), MessageIcon::Warning,
               MessageButtons::Ok});
}

void CRestore::LayoutControls() {
    if (!tree) return;
    const int width = this->width(), height = this->height();
    tree->setGeometry(kTreeLeft, 0, width - kTreeLeft, height);
    separator_->setGeometry(kSeparatorLeft, 0, kSeparatorWidth, height);
    notice_->setGeometry(kNoticeLeft, height - kNoticeHeight, kNoticeWidth, kNoticeHeight);
}

void CRestore::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayoutControls();
}

void CRestore::reject() {
    cancelRequested = 1;
    if (scanFinished) QDialog::reject();
}

void CRestore::OnRaiseInstance(quint32 key) { RaiseWindowFor(this, key); }

void CRestore::AcceptPassword(const std::string& password) {
    unlockedPasswords.push_back(password);
    UnlockPassword(*tree, password);
}

void CRestore::AcceptPrompt(const CPW& prompt, const std::string& expected) {
    if (!prompt.openedKey) {
        AcceptPassword(expected);
        return;
    }
    keys.AddKey(prompt.openedKey);
    keys.AddPassword(prompt.Typed());  // other backups made with the same password
    WaitCursor wait;
    UnlockSealed(*tree, *files_, keys);
}

// The first expansion of a stream folder lists its files; a locked one asks for its password
// first and stays closed unless it is given.
void CRestore::OnItemExpanded(QTreeWidgetItem* widgetItem) {
    CTreeItem* item = CMyTree::ItemOf(widgetItem);
    if (!item || !item->record || item->record->kind != kFolderItem ||
        !FindPlaceholder(*tree, item))
        return;
    if (item->record->locked) {
        tree->collapseItem(item);
        CPW prompt(this);
        prompt.expectedPassword = item->record->password;
        if (prompt.exec() != QDialog::Accepted) return;
        AcceptPrompt(prompt, item->record->password);
        // An encrypted folder has moved to its real place, as a new item, to be opened there.
        if (prompt.openedKey) return;
    }
    {
        WaitCursor wait;
        OpenStreamFolder(*tree, item, *files_, nullptr, &keys);
    }
    tree->expandItem(item);
}

ContextMenuState CRestore::ContextMenuStateFor(QTreeWidgetItem* item) {
    ContextMenuState state;
    if (!item || !item->parent()) return state;
    state.restore = true;
    const CTreeItem* treeItem = CMyTree::ItemOf(item);
    // A file on a disc that is not present cannot be opened.
    state.fileCommands = treeItem && treeItem->record && treeItem->record->kind == kFileItem &&
                         !treeItem->record->absentDisc;
    return state;
}

void CRestore::ShowContextMenu(const QPoint& position) {
    QTreeWidgetItem* item = tree->itemAt(position);
    if (item) tree->setCurrentItem(item);
    const ContextMenuState state = ContextMenuStateFor(item);

    QMenu menu(this);
    menu.addAction(QStringLiteral("Open"), this, &CRestore::OnOpen)->setEnabled(state.fileCommands);
    menu.addAction(QStringLiteral("Open With..."), this, &CRestore::OnOpenWith)
        ->setEnabled(state.fileCommands);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Restore..."), this, &CRestore::OnRestore)
        ->setEnabled(state.restore);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Properties"), this, &CRestore::OnProperties)
        ->setEnabled(state.fileCommands);
    menu.exec(tree->viewport()->mapToGlobal(position));
}

void CRestore::OnOpen() {
    if (QTreeWidgetItem* item = tree->currentItem()) openItem ? openItem(item, false) : OpenItem(item, false);
}

void CRestore::OnOpenWith() {
    if (QTreeWidgetItem* item = tree->currentItem()) openItem ? openItem(item, true) : OpenItem(item, true);
}

std::vector<std::string> CRestore::NamesOf(const CTreeItem* item) const {
    std::vector<std::string> names;
    for (const QTreeWidgetItem* at = item; at; at = at->parent()) {
        const CTreeItem* treeItem = CMyTree::ItemOf(const_cast<QTreeWidgetItem*>(at));
        names.insert(names.begin(), treeItem && treeItem->record ? StoredTextToUtf8(treeItem->record->name)
                                                                 : at->text(0).toStdString());
    }
    return names;
}

CTreeItem* CRestore::FindItem(const std::vector<std::string>& names) const {
    QTreeWidgetItem* item = nullptr;
    for (const std::string& name : names) {
        const int count = item ? item->childCount() : tree->topLevelItemCount();
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < count && !next; ++i) {
            QTreeWidgetItem* child = item ? item->child(i) : tree->topLevelItem(i);
            if (NamesOf(CMyTree::ItemOf(child)).back() == name) next = child;
        }
        if (!next) return nullptr;
        item = next;
    }
    return CMyTree::ItemOf(item);
}

bool CRestore::AskForDisc(CTreeItem*& item, const std::string& disc) {
    const std::vector<std::string> names = NamesOf(item);
    if (Ask(this, {"Please insert " + disc, MessageIcon::Information, MessageButtons::RetryCancel}) !=
        MessageAnswer::Retry)
        return false;
    Rescan();
    if (!WaitForScan()) return false;
    item = FindItem(names);
    if (!item) return false;  // the discs read now know nothing of it
    tree->setCurrentItem(item);
    return true;
}

// What is present is restored, then each other disc the item lies on is asked for in turn
// and restored once read: one drive takes a backup of many discs. When some of it is on discs
// that are not present, the user is told so before anything is restored, and at the end how
// many files came back and what did not, with each file on a disc not given.
void CRestore::OnRestore() {
    CTreeItem* item = CMyTree::ItemOf(tree->currentItem());
    if (!item) return;
    if (!scanFinished && !WaitForScan()) return;
    std::set<std::string> restored;  // streams handed to a restore, by file name
    tally_ = {};
    bool spansDiscs = false;
    std::vector<std::string> notGiven;  // what is on the discs still absent
    for (bool first = true;; first = false) {
        std::string shownAbove;
        for (QTreeWidgetItem* above = item->parent(); above; above = above->parent())
            shownAbove = ShownItemPath(*tree, CMyTree::ItemOf(above), "") +
                         (shownAbove.empty() ? "" : "/" + shownAbove);
        RestoreEntries entries;
        CollectForRestore(*tree, item, entries, ShownItemPath(*tree, item, shownAbove), restored);
        for (const std::string& path : entries.streamPaths) restored.insert(std::string(FileNameOf(path)));
        const std::vector<std::string> discs = AbsentDiscsBelow(*tree, item, restored);
        entries.moreDiscsFollow = !discs.empty();
        // A disc after the last one known may hold more of a folder that holds the last stream
        // known (folders are numbered in order); a file lies whole on one disc.
        std::vector<std::string> following;
        if (!item->record || item->record->kind != kFileItem) {
            for (const auto& [lastStream, line] : followingDiscs_)
                if (HoldsStream(*tree, item, lastStream)) following.push_back(line);
        }
        notGiven = NotGivenLines(knownSets_, AbsentFilesBelow(*tree, item, restored));
        notGiven.insert(notGiven.end(), following.begin(), following.end());
        if (first && (!discs.empty() || !following.empty())) {
            spansDiscs = true;
            // With nothing present, the question for the first disc says it all.
            if (entries.size() > 0) TellWhatIsAbsent(discs, following);
        }
        if (entries.size() > 0 || (first && discs.empty())) {
            if (runExtract) {
                runExtract(entries);
            } else {
                RunExtract(entries);
            }
        }
        if (tally_.abandoned) return;
        if (discs.empty() || !AskForDisc(item, discs.front())) break;
    }
    if (spansDiscs) TellHowTheRestoreEnded(notGiven);
}

void CRestore::TellWhatIsAbsent(const std::vector<std::string>& discs, const std::vector<std::string>& following) {
    std::string text;
    if (!discs.empty())
        text = ListedLines("Part of this is on discs that are not present:", discs) +
               "\n\nWhat is present is restored first; then each of these discs is asked for.";
    else
        text = "What is present is restored.";
    for (const std::string& line : following) text += "\n\nMore of it may be on a disc that is not present: " + line + ".";
    Ask(this, {text, MessageIcon::Information});
}

void CRestore::TellHowTheRestoreEnded(const std::vector<std::string>& notGiven) {
    std::vector<std::string> notRestored = tally_.notRestored;
    notRestored.insert(notRestored.end(), notGiven.begin(), notGiven.end());
    std::string text = std::to_string(tally_.restored) + (tally_.restored == 1 ? " file" : " files") + " restored.";
    if (!notRestored.empty()) text += "\n\n" + ListedLines("Not restored:", notRestored);
    Ask(this, {text, notRestored.empty() ? MessageIcon::Information : MessageIcon::Warning});
}

bool CRestore::WaitForScan() {
    WaitCursor wait;
    const QString notice = notice_->text();
    notice_->setText(QStringLiteral("Reading the backups: the restore starts when they are all read."));
    QEventLoop loop;
    connect(this, &CRestore::scanEnded, &loop, &QEventLoop::quit);
    loop.exec();
    if (notice_->text().startsWith(QStringLiteral("Reading"))) notice_->setText(notice);
    return !cancelRequested;  // a stopped scan has not read everything
}

void CRestore::OpenItem(QTreeWidgetItem* item, bool openWith) {
    const CTreeItem* file = CMyTree::ItemOf(item);
    if (!file || !file->record || file->record->kind != kFileItem) return;
    const TellUser tell = [this](const Message& message) { Ask(this, message); };
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string copy = ExtractToTemp(tempFolder, file->record->streamPath, file->record->recordOffset,
                                           file->record->name, tell, *files_, &keys, &catalogue_);
    QApplication::restoreOverrideCursor();
    if (copy.empty()) return;
    tempFiles.push_back(copy);
    LaunchPath(copy, openWith, tell, COpenWith::ChooserFor(this));
}

void CRestore::RunExtract(RestoreEntries& entries) {
    std::set<std::string> given;
    std::set<std::string> refused;
    for (const std::string& password : entries.lockedPasswords) {
        if (password.empty() || given.count(password) || refused.count(password)) continue;
        CPW prompt;
        prompt.expectedPassword = password;
        if (prompt.exec() == QDialog::Accepted) {
            given.insert(password);
            AcceptPrompt(prompt, password);
        } else {
            refused.insert(password);
        }
    }
    // A protected folder is never restored without its password, not even through its parent.
    RestoreEntries allowed;
    std::string leftOut;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (refused.count(entries.lockedPasswords[i])) {
            leftOut += "\n" + entries.shownPaths[i];
            tally_.notRestored.push_back(entries.shownPaths[i] + ": left out without its password");
            continue;
        }
        allowed.streamPaths.push_back(entries.streamPaths[i]);
        allowed.recordOffsets.push_back(entries.recordOffsets[i]);
        allowed.itemNames.push_back(entries.itemNames[i]);
        allowed.lockedPasswords.push_back({});
    }
    if (!leftOut.empty()) {
        Ask(this, {"Protected folders are left out without their password:" + leftOut, MessageIcon::Warning,
                   MessageButtons::Ok});
    }
    CExtract dialog(allowed.streamPaths, allowed.recordOffsets, allowed.itemNames, lastDestination);
    dialog.files = files_;
    dialog.keys = &keys;
    dialog.catalogue = &catalogue_;
    if (entries.moreDiscsFollow) dialog.doneStatus = "This disc is done; another follows";
    dialog.exec();
    tally_.abandoned = !dialog.HasRun();
    tally_.restored += dialog.RestoredFiles();
    tally_.notRestored.insert(tally_.notRestored.end(), dialog.NotRestoredLines().begin(),
                              dialog.NotRestoredLines().end());
}

void CRestore::OnProperties() {
    const CTreeItem* item = CMyTree::ItemOf(tree->currentItem());
    if (!item || !item->record) return;
    CProps props(item->record.get(), this);
    props.exec();
}

}  // namespace corvane
