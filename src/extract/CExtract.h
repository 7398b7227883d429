#pragma once
// The "Restore" dialog: asks for a destination folder, then restores a list of entries (whole
// folder streams, or single file records) on a worker thread with progress and a status line.
// Cancel stops a run; when no run is going on it closes the dialog.

#include <QDialog>
#include <QThread>
#include <memory>
#include <string>
#include <vector>

#include "extract/ExtractHost.h"
#include "platform/WaitCursor.h"

class QLineEdit;
class QProgressBar;
class QPushButton;

namespace corvane {

class ElidedLabel;

class CExtract : public QDialog, public ExtractHost {
    Q_OBJECT
public:
    // The three lists are parallel and stay the caller's; a record offset of 0 stands for a
    // whole folder stream. lastDestination (may be null) fills the destination box.
    CExtract(const std::vector<std::string>& streamPaths, const std::vector<std::uint64_t>& recordOffsets,
             const std::vector<std::string>& itemNames, std::string* lastDestination, QWidget* parent = nullptr);
    ~CExtract() override;

    // ExtractHost: callable from the worker thread.
    void SetStatus(const std::string& text) override;
    void ShowProgress() override;
    void SetProgress(int percent) override;
    std::string Destination() override;
    MessageAnswer Ask(const Message& message) override;
    OverwriteAnswer AskOverwrite(const std::string& targetPath) override;
    void Restored(const std::string&) override { ++restoredFiles_; }
    void RestoredUnder(const std::string& shownPath, const std::string& targetPath) override;
    void NotRestored(const std::string& shownPath, const std::string& reason) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    std::atomic<int> idle{1};
    // The status line's text when a run has ended; a caller with more of the restore to do
    // after this dialog says so here.
    std::string doneStatus = "Done!";

    // What the last run came to, read once it has ended: the files restored, and a line for
    // each thing not restored ("Docs\a.txt: why").
    bool HasRun() const { return hasRun_; }  // false: closed before any run
    int RestoredFiles() const { return restoredFiles_; }
    const std::vector<std::string>& NotRestoredLines() const { return notRestored_; }

protected:
    void accept() override;  // "&Restore" and Enter: start a run
    void reject() override;  // "&Cancel", Escape and the close box
    void closeEvent(QCloseEvent* event) override;

private:
    void OnBrowse();
    void ExtractWorker();
    // After "Done!": one message naming what was not restored and what got another name.
    void TellWhatWasNotRestored();

    const std::vector<std::string>& streamPaths_;
    const std::vector<std::uint64_t>& recordOffsets_;
    const std::vector<std::string>& itemNames_;

    QLineEdit* destination_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    QProgressBar* progressBar = nullptr;
    ElidedLabel* statusLine_ = nullptr;
    std::unique_ptr<QThread> worker_;
    // The run's lines for the closing message; the worker's alone while it runs.
    std::vector<std::string> notRestored_;
    std::vector<std::string> renamed_;
    int restoredFiles_ = 0;
    bool hasRun_ = false;  // GUI thread only
    NestedWaitCursor waitCursor_;
};

}  // namespace corvane
