#pragma once
// The backup window: pick the source drive and the recorder, type an optional password twice
// and press "Burn". The backup job runs on a worker thread and reports through this window,
// which is its BackupHost.

#include <QDialog>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "archive/BackupJob.h"
#include "backup/BackupHost.h"
#include "backup/DriveDiscovery.h"
#include "platform/DesktopNotifier.h"
#include "platform/WaitCursor.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace corvane {

class ElidedLabel;

// The desktop's folder picker, titled "Select A Folder": the chosen folder, "" for none.
std::string PickFolderWithDialog(QWidget* parent);

struct BackupWindowServices {
    // A disc master for filling the recorder list and for each job.
    std::function<std::shared_ptr<IDiscMaster>()> createDiscMaster;
    // Where mount table, sysfs and /dev are read ("/" on a live system).
    std::string systemRoot = "/";
    // Asks for a folder to back up; "" when none was chosen.
    std::function<std::string(QWidget* parent)> pickFolder = PickFolderWithDialog;
    // The disc master looks for optical drives: a drive of the system it leaves out is listed
    // with the reason it cannot be used.
    bool explainMissingDrives = false;
    // Where "insert another disc" and the end of a backup are also told, for a user who is
    // doing something else.
    DesktopNotifier notifier = DesktopNotifier();
};

class CBackup : public QDialog, public BackupHost {
    Q_OBJECT
public:
    explicit CBackup(BackupWindowServices services, QWidget* parent = nullptr);
    ~CBackup() override;

    // BackupHost: callable from the job's thread.
    void SetStatus(const std::string& text) override;
    std::string StatusText() override;
    void ShowCounters(std::uint64_t bytesRead, std::uint64_t bytesWritten) override;
    void ShowProgress() override;
    void SetProgress(int percent) override;
    int Progress() override;
    void SetCancelEnabled(bool enabled) override;
    void SetInputsEnabled(bool enabled) override;
    MessageAnswer Ask(const Message& message) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    std::optional<std::string> RecorderSelection() override;
    std::optional<SourceChoice> SourceSelection() override;
    std::string Password() override;
    bool EncryptFiles() override;

    // Whether the recorder list has been filled; the drive scan runs off the GUI thread.
    bool RecordersListed() const { return recordersListed_; }

    // The last job's outcome, once it has ended.
    std::optional<BackupOutcome> LastOutcome() const;

public slots:
    void OnBurn();
    void OnRaiseInstance(quint32 key);

protected:
    void accept() override;  // Enter presses "Burn"; nothing closes the window but Cancel
    void reject() override;  // Cancel, Escape and the close box
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControls();
    void OnInitDialog();
    void OnCancel();
    // Fills the recorder list again on a thread of its own, keeping the selected entry.
    void ScanRecorders();
    // Drives or mounts changed: lists the recorders again now, or once the running scan or
    // backup is over (a drive in use by a backup is not scanned).
    void RescanRecorders();
    // Watches what changes the recorder list: drives plugged in or out, discs mounted or not.
    void WatchDrives();
    // A cancel while a disc is recorded: asks first, or after a signal stops once it is done.
    void OnCancelWhileRecording();
    // Tells the desktop how a backup that ran ended (not a cancel: the user is there).
    void NotifyEnd();
    void FlushCounters();
    // A source entry was picked; "Other folder..." asks for the folder.
    void OnSourceActivated(int index);
    // Adds an entry for a source before "Other folder...", its data the source's index.
    void AddSourceEntry(const QString& text, SourceChoice source, int at);

    BackupWindowServices services_;
    // The sources behind the entries of the source list: each entry's data is its index here.
    std::vector<SourceChoice> sources_;
    int lastSource_ = -1;  // the entry selected before "Other folder..." was picked

    QComboBox* sourceCombo = nullptr;
    QComboBox* recorderCombo = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* confirmation_ = nullptr;
    QCheckBox* encrypt_ = nullptr;
    QCheckBox* verify_ = nullptr;
    QString verifyDefaultFor_;  // the recorder whose default the verify box last took
    QProgressBar* progressBar = nullptr;
    ElidedLabel* statusLine = nullptr;
    QLabel* totalLine_ = nullptr;
    QLabel* compressedLine_ = nullptr;
    QPushButton* burnButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;

    std::unique_ptr<QThread> worker_;
    // Fills the recorder list: a drive may take seconds to answer libburn's scan.
    std::unique_ptr<QThread> scan_;
    bool recordersListed_ = false;
    bool rescanPending_ = false;
    QStringList unusableRecorders_;  // entries of drives listed with why they cannot be used
    std::atomic<int> outcome_{-1};
    // The totals change after every chunk: the latest values are kept here and shown by at
    // most one pending update at a time.
    std::atomic<std::uint64_t> shownRead_{0};
    std::atomic<std::uint64_t> shownWritten_{0};
    std::atomic<bool> countersPending_{false};
    NestedWaitCursor waitCursor_;
    bool askingToStop_ = false;
};

}  // namespace corvane
