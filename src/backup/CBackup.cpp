#include "backup/CBackup.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QPushButton>
#include <QValidator>

#include "app/AboutBox.h"
#include "app/RaiseInstance.h"
#include "archive/StreamFormat.h"
#include "disc/RecorderPath.h"
#include "platform/DialogUnits.h"
#include "platform/ElidedLabel.h"
#include "platform/GuiThread.h"
#include "platform/Prompt.h"
#include "platform/StoredQText.h"
#include "platform/WaitCursor.h"
#include "verify/RecordedDiscCheck.h"

namespace corvane {

namespace {

// A check box as high as the desktop font makes its box, centred on the line it was given, so
// its box is never cut.
void FitHeight(QWidget* box) {
    QRect place = box->geometry();
    const int height = std::max(place.height(), box->sizeHint().height());
    place.adjust(0, -(height - place.height()) / 2, 0, 0);
    place.setHeight(height);
    box->setGeometry(place);
}

constexpr int kPasswordBytes = 16;
const QColor kBackground(200, 200, 235);
const QColor kCounterText(0, 0, 192);

const QString kOtherFolder = QStringLiteral("Other folder...");

// Password boxes take at most 16 bytes of UTF-8, which is what a stream can store, and no
// control character, which could not be typed to restore (a paste could bring one).
class PasswordValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        const bool control = std::any_of(input.begin(), input.end(),
                                         [](QChar c) { return c.category() == QChar::Other_Control; });
        return input.toUtf8().size() <= kPasswordBytes && !control ? Acceptable : Invalid;
    }
};

QFrame* Line(QWidget* parent, QFrame::Shape shape) {
    auto* line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString ToQ(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

std::string PickFolderWithDialog(QWidget* parent) {
    return QFile::encodeName(QFileDialog::getExistingDirectory(parent, QStringLiteral("Select A Folder"))).toStdString();
}

CBackup::CBackup(BackupWindowServices services, QWidget* parent) : QDialog(parent), services_(std::move(services)) {
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(QIcon(QStringLiteral(":/res/program.png")));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    BuildControls();
    OnInitDialog();
}

CBackup::~CBackup() {
    if (scan_) scan_->wait();
    if (worker_) worker_->wait();
    for (const auto& path : stagedFiles) files->RemoveFile(path);
}

void CBackup::BuildControls() {
    setFont(DialogFont());
    DialogUnits du(font());
    setFixedSize(du.x(252), du.y(202));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/res/side.png")));
    picture->setGeometry(du.rect(0, 0, 80, 203));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setAutoFillBackground(true);
    QPalette white = picture->palette();
    white.setColor(QPalette::Window, Qt::white);
    picture->setPalette(white);
    Line(this, QFrame::VLine)->setGeometry(du.rect(70, 7, 1, 186));

    // Labels keep their place; one that the desktop font makes wider than its box grows to
    // the right rather than being cut. The two-line one wraps as laid out.
    auto label = [&](const char* text, int x, int y, int w, int h) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        QRect box = du.rect(x, y, w, h);
        if (h > 8) {
            l->setWordWrap(true);
        } else {
            box.setWidth(std::max(box.width(), l->sizeHint().width()));
            box.setHeight(std::max(box.height(), l->sizeHint().height()));
        }
        l->setGeometry(box);
        return l;
    };
    label("Source USB Drive", 91, 6, 56, 8);
    sourceCombo = new QComboBox(this);
    PlaceControl(sourceCombo, du, 1004, 90, 17, 148, 12);
    label("Destination CD/DVD", 91, 35, 64, 8);
    recorderCombo = new QComboBox(this);
    PlaceControl(recorderCombo, du, 1003, 90, 46, 148, 12);
    // Discs are read back after burning by default on optical drives, whose discs fail quietly;
    // choosing another recorder sets the default again, a rescan that keeps the choice does not.
    verify_ = new QCheckBox(QStringLiteral("Verify discs after burning"), this);
    PlaceControl(verify_, du, 1017, 91, 59, 147, 8);
    FitHeight(verify_);
    connect(recorderCombo, &QComboBox::currentIndexChanged, this, [this] {
        const QString device = recorderCombo->currentData().toString();
        if (device.isEmpty() || device == verifyDefaultFor_) return;
        verifyDefaultFor_ = device;
        ImageRecorderPath image;
        verify_->setChecked(!ParseImageRecorderPath(device.toStdString(), image));
    });
    Line(this, QFrame::HLine)->setGeometry(du.rect(86, 68, 152, 1));

    label("Password:", 91, 76, 34, 8);
    password_ = new QLineEdit(this);
    PlaceControl(password_, du, 1014, 132, 74, 92, 14);
    label("Confirm Password:", 91, 89, 35, 17);
    confirmation_ = new QLineEdit(this);
    PlaceControl(confirmation_, du, 1015, 132, 91, 92, 14);
    for (QLineEdit* box : {password_, confirmation_}) {
        box->setEchoMode(QLineEdit::Password);
        box->setMaxLength(kPasswordBytes);
        box->setValidator(new PasswordValidator(box));
        box->setAutoFillBackground(true);
        box->setPalette(QApplication::palette(box));  // the password boxes keep the system colours
    }
    // Encryption needs the password: the box is usable only while one is typed.
    encrypt_ = new QCheckBox(QStringLiteral("Encrypt the files with the password"), this);
    PlaceControl(encrypt_, du, 1016, 91, 106, 147, 8);
    FitHeight(encrypt_);
    encrypt_->setEnabled(false);
    connect(password_, &QLineEdit::textChanged, this, [this](const QString& text) {
        encrypt_->setEnabled(password_->isEnabled() && !text.isEmpty());
        if (text.isEmpty()) encrypt_->setChecked(false);
    });
    Line(this, QFrame::HLine)->setGeometry(du.rect(86, 116, 152, 1));

    progressBar = new QProgressBar(this);
    PlaceControl(progressBar, du, 1005, 89, 119, 144, 9);
    progressBar->setTextVisible(false);
    progressBar->setRange(0, 100);
    progressBar->hide();

    QFont small = font();
    small.setPixelSize(9);
    statusLine = new ElidedLabel(this);
    PlaceControl(statusLine, du, 1006, 91, 130, 140, 8);
    auto* totalLabel = new QLabel(QStringLiteral("Total "), this);
    PlaceControl(totalLabel, du, 1010, 88, 145, 19, 8);
    totalLine_ = new QLabel(QStringLiteral("0 MB"), this);
    PlaceControl(totalLine_, du, 1007, 88, 153, 61, 8);
    auto* compressedLabel = new QLabel(QStringLiteral("Compressed"), this);
    PlaceControl(compressedLabel, du, 1011, 88, 164, 40, 8);
    compressedLine_ = new QLabel(QStringLiteral("0 MB"), this);
    PlaceControl(compressedLine_, du, 1008, 88, 173, 60, 8);
    for (QLabel* l : std::initializer_list<QLabel*>{totalLine_, compressedLine_, totalLabel, compressedLabel, statusLine})
        l->setFont(small);
    for (QLabel* counter : {totalLine_, compressedLine_}) {
        QPalette p = counter->palette();
        p.setColor(QPalette::WindowText, kCounterText);
        counter->setPalette(p);
    }

    burnButton_ = new QPushButton(QStringLiteral("Burn"), this);
    PlaceControl(burnButton_, du, 1000, 152, 147, 39, 20);
    burnButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    PlaceControl(cancelButton_, du, 2, 194, 147, 38, 21);
    connect(burnButton_, &QPushButton::clicked, this, &CBackup::OnBurn);
    connect(cancelButton_, &QPushButton::clicked, this, &CBackup::OnCancel);

    auto* notice = new QLabel(QStringLiteral("corvane.example.org"), this);
    notice->setGeometry(du.rect(177, 193, 68, 8));
    notice->setFont(small);
}

void CBackup::OnInitDialog() {
    // "Burn" waits for the first list; the window answers meanwhile.
    burnButton_->setEnabled(false);
    SetStatus("Looking for disc recorders...");
    ScanRecorders();
    WatchDrives();

    // Entries show labels as the backup's name reads them: a label that is not UTF-8 as
    // Windows-1252.
    for (const auto& drive : ListSourceDrives(services_.systemRoot))
        AddSourceEntry(StoredTextToQString(drive.entryText), {drive.mountPoint, drive.label}, sourceCombo->count());
    sourceCombo->addItem(kOtherFolder);
    sourceCombo->setCurrentIndex(sources_.empty() ? -1 : 0);
    lastSource_ = sourceCombo->currentIndex();
    connect(sourceCombo, &QComboBox::activated, this, &CBackup::OnSourceActivated);
}

void CBackup::WatchDrives() {
    const QString root = QString::fromStdString(services_.systemRoot);
    auto* watch = new QFileSystemWatcher(this);
    watch->addPath(root + "/dev");
    connect(watch, &QFileSystemWatcher::directoryChanged, this, &CBackup::RescanRecorders);
    // The kernel's mount table signals a change as an exceptional condition on its file; a
    // mount table that is a plain file (a test's system root) is watched as a file.
    auto* mounts = new QFile(root + "/proc/self/mountinfo", this);
    if (mounts->open(QIODevice::ReadOnly)) {
        auto* changed = new QSocketNotifier(mounts->handle(), QSocketNotifier::Exception, this);
        connect(changed, &QSocketNotifier::activated, this, &CBackup::RescanRecorders);
    }
    watch->addPath(mounts->fileName());
    connect(watch, &QFileSystemWatcher::fileChanged, this, &CBackup::RescanRecorders);
}

void CBackup::RescanRecorders() {
    if (idle && scan_ && scan_->isFinished())
        ScanRecorders();
    else
        rescanPending_ = true;
}

void CBackup::ScanRecorders() {
    rescanPending_ = false;
    if (scan_) scan_->wait();
    scan_.reset(QThread::create([this] {
        std::shared_ptr<IDiscMaster> master = services_.createDiscMaster ? services_.createDiscMaster() : nullptr;
        const Caller caller = CurrentCaller();
        DriveList recorders =
            FillRecorderList(master.get(), services_.systemRoot, services_.explainMissingDrives ? &caller : nullptr);
        QMetaObject::invokeMethod(
            this,
            [this, recorders] {
                // The drive stays selected when what the list says of it changes.
                const QVariant chosen = recorderCombo->currentData();
                const bool first = !recordersListed_;
                recorderCombo->clear();
                for (std::size_t i = 0; i < recorders.entries.size(); ++i)
                    recorderCombo->addItem(ToQ(recorders.entries[i]), ToQ(recorders.devices[i]));
                const int kept = chosen.isValid() ? recorderCombo->findData(chosen) : -1;
                recorderCombo->setCurrentIndex(kept >= 0 ? kept : recorders.selected);
                recordersListed_ = true;
                unusableRecorders_.clear();
                for (const auto& entry : recorders.unusable) unusableRecorders_.append(ToQ(entry));
                if (first) {
                    burnButton_->setEnabled(true);
                    SetStatus("");
                }
                if (rescanPending_ && idle) ScanRecorders();
            },
            Qt::QueuedConnection);
    }));
    scan_->start();
}

void CBackup::AddSourceEntry(const QString& text, SourceChoice source, int at) {
    sourceCombo->insertItem(at, text, static_cast<int>(sources_.size()));
    sources_.push_back(std::move(source));
}

void CBackup::OnSourceActivated(int index) {
    if (sourceCombo->itemData(index).isValid()) {
        lastSource_ = index;
        return;
    }
    const std::string folder = services_.pickFolder(this);
    if (folder.empty()) {
        sourceCombo->setCurrentIndex(lastSource_);
        return;
    }
    const int at = sourceCombo->count() - 1;  // before "Other folder..."
    AddSourceEntry(StoredTextToQString(folder), SourceOfFolder(folder, services_.systemRoot), at);
    sourceCombo->setCurrentIndex(at);
    lastSource_ = at;
}

void CBackup::OnBurn() {
    BeginWaitCursor();
    if (password_->text() != confirmation_->text()) {
        corvane::Ask(this, {"Password is not confirmed.", MessageIcon::Warning, MessageButtons::Ok});
        EndWaitCursor();
        return;
    }
    if (std::string untypable = UntypablePassword(password_->text().toStdString()); !untypable.empty()) {
        untypable[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(untypable[0])));
        corvane::Ask(this, {untypable + ".", MessageIcon::Warning, MessageButtons::Ok});
        EndWaitCursor();
        return;
    }
    // A drive listed with its reason is not tried: the reason is said again, and the list is
    // read again in case the drive has been freed meanwhile.
    if (unusableRecorders_.contains(recorderCombo->currentText())) {
        corvane::Ask(this, {recorderCombo->currentText().toStdString() + ".", MessageIcon::Warning, MessageButtons::Ok});
        EndWaitCursor();
        RescanRecorders();
        return;
    }
    cancelRequested = 0;
    stopAfterRecording = 0;
    verifyRecordedDisc = verify_->isChecked() ? RecordedDiscCheck(*this) : nullptr;
    idle = 0;
    outcome_ = -1;
    SetInputsEnabled(false);
    if (worker_) worker_->wait();
    BackupJobServices jobServices{services_.createDiscMaster, [root = services_.systemRoot](const std::string& path) {
                                      return RecorderEntryText(path, root);
                                  }};
    worker_.reset(QThread::create([this, jobServices] { outcome_ = static_cast<int>(RunBackupJob(*this, jobServices)); }));
    connect(worker_.get(), &QThread::finished, this, &CBackup::NotifyEnd);
    worker_->start(QThread::LowPriority);
    EndWaitCursor();
}

std::optional<BackupOutcome> CBackup::LastOutcome() const {
    // The job marks the window idle just before it returns its outcome: once idle, the
    // worker is about to end, so waiting for it is immediate and the outcome is in place.
    if (idle && worker_) worker_->wait();
    int value = outcome_.load();
    if (value < 0) return std::nullopt;
    return static_cast<BackupOutcome>(value);
}

void CBackup::OnCancel() {
    if (recording && !idle) return OnCancelWhileRecording();
    cancelRequested = 1;
    if (idle) QDialog::reject();
}

void CBackup::OnCancelWhileRecording() {
    // A signal gets no question: the recording ends, then the job stops and the window closes.
    if (property("closingOnSignal").toBool()) {
        stopAfterRecording = 1;
        return;
    }
    // A disc being closed holds all its data: it ends as recorded.
    if (askingToStop_ || recording == kRecordingClose) return;
    askingToStop_ = true;
    const Message question{"A disc is being recorded. Stopping now leaves a write-once disc unusable.\n\n"
                           "Stop the recording?",
                           MessageIcon::Warning, MessageButtons::YesNo, kProductTitle, true};
    const bool stop = corvane::Ask(this, question) == MessageAnswer::Yes;
    askingToStop_ = false;
    // Only a disc still being written can be stopped; by now it may be closed or done.
    if (stop && recording == kRecordingWrite) cancelRequested = 1;
}

void CBackup::accept() {}

void CBackup::reject() { OnCancel(); }

void CBackup::closeEvent(QCloseEvent* event) {
    OnCancel();
    if (!idle) event->ignore();
}

void CBackup::contextMenuEvent(QContextMenuEvent* event) {
    // The About entry that a window's system menu would hold.
    QMenu menu(this);
    QAction* about = menu.addAction(QStringLiteral("&About corvane08..."));
    if (menu.exec(event->globalPos()) == about) {
        CAbout box(this);
        box.exec();
    }
}

void CBackup::OnRaiseInstance(quint32 key) { RaiseWindowFor(this, key); }

// ---- BackupHost ----

void CBackup::SetStatus(const std::string& text) {
    CallOnThreadOf(this, [&] { statusLine->SetFullText(ToQ(text)); });
}

std::string CBackup::StatusText() {
    return CallOnThreadOf(this, [&] { return statusLine->FullText().toStdString(); });
}

void CBackup::FlushCounters() {
    countersPending_ = false;
    totalLine_->setText(ToQ(FormatCount(shownRead_)));
    compressedLine_->setText(ToQ(FormatCount(shownWritten_)));
}

void CBackup::ShowCounters(std::uint64_t read, std::uint64_t written) {
    shownRead_ = read;
    shownWritten_ = written;
    if (QThread::currentThread() == thread()) {
        FlushCounters();
    } else if (!countersPending_.exchange(true)) {
        QMetaObject::invokeMethod(this, [this] { FlushCounters(); }, Qt::QueuedConnection);
    }
}

void CBackup::ShowProgress() {
    CallOnThreadOf(this, [&] {
        progressBar->setRange(0, 100);
        progressBar->setValue(0);
        progressBar->show();
    });
}

void CBackup::SetProgress(int percent) {
    CallOnThreadOf(this, [&] { progressBar->setValue(std::clamp(percent, 0, 100)); });
}

int CBackup::Progress() {
    return CallOnThreadOf(this, [&] { return progressBar->value() < 0 ? 0 : progressBar->value(); });
}

void CBackup::SetCancelEnabled(bool enabled) {
    CallOnThreadOf(this, [&] { cancelButton_->setEnabled(enabled); });
}

void CBackup::SetInputsEnabled(bool enabled) {
    CallOnThreadOf(this, [&] {
        if (enabled) FlushCounters();
        for (QWidget* w : std::initializer_list<QWidget*>{sourceCombo, recorderCombo, burnButton_, password_, confirmation_, verify_})
            w->setEnabled(enabled);
        encrypt_->setEnabled(enabled && !password_->text().isEmpty());
    });
}

void CBackup::NotifyEnd() {
    if (rescanPending_) RescanRecorders();
    const int outcome = outcome_.load();
    if (outcome == static_cast<int>(BackupOutcome::Completed) || outcome == static_cast<int>(BackupOutcome::Incomplete) ||
        outcome == static_cast<int>(BackupOutcome::Failed))
        services_.notifier.Notify(QStringLiteral("Corvane"), statusLine->FullText());
}

MessageAnswer CBackup::Ask(const Message& message) {
    if (message.buttons == MessageButtons::RetryCancel && message.text.starts_with("Please insert another disc"))
        services_.notifier.Notify(QStringLiteral("Corvane"), ToQ(message.text));
    return corvane::Ask(this, message);
}

void CBackup::BeginWaitCursor() {
    CallOnThreadOf(this, [&] { waitCursor_.Begin(); });
}

void CBackup::EndWaitCursor() {
    CallOnThreadOf(this, [&] { waitCursor_.End(); });
}

std::optional<std::string> CBackup::RecorderSelection() {
    return CallOnThreadOf(this, [&]() -> std::optional<std::string> {
        if (recorderCombo->currentIndex() < 0) return std::nullopt;
        return recorderCombo->currentText().toStdString();
    });
}

std::optional<SourceChoice> CBackup::SourceSelection() {
    return CallOnThreadOf(this, [&]() -> std::optional<SourceChoice> {
        const QVariant entry = sourceCombo->currentData();
        if (!entry.isValid()) return std::nullopt;
        return sources_[static_cast<std::size_t>(entry.toInt())];
    });
}

std::string CBackup::Password() {
    return CallOnThreadOf(this, [&] { return password_->text().toStdString(); });
}

bool CBackup::EncryptFiles() {
    return CallOnThreadOf(this, [&] { return encrypt_->isChecked() && !password_->text().isEmpty(); });
}

}  // namespace corvane
