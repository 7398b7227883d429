#include "extract/CExtract.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>

#include <algorithm>
#include <cctype>

#include "extract/COverwrite.h"
#include "extract/FileExtractor.h"
#include "platform/DialogUnits.h"
#include "platform/ElidedLabel.h"
#include "platform/GuiThread.h"
#include "platform/Prompt.h"
#include "platform/PrivateTempFolder.h"
#include "platform/WaitCursor.h"
#include "platform/StoredQText.h"

namespace corvane {

CExtract::CExtract(const std::vector<std::string>& streamPaths, const std::vector<std::uint64_t>& recordOffsets,
                   const std::vector<std::string>& itemNames, std::string* lastDestinationText, QWidget* parent)
    : QDialog(parent), streamPaths_(streamPaths), recordOffsets_(recordOffsets), itemNames_(itemNames) {
    lastDestination = lastDestinationText;
    setWindowTitle(QStringLiteral("Restore"));
    setFont(DialogFont());
    DialogUnits du(font());
    setFixedSize(du.x(224), du.y(83));

    destination_ = new QLineEdit(this);
    PlaceControl(destination_, du, 1013, 12, 16, 156, 14);
    auto* browse = new QPushButton(QStringLiteral("&Browse"), this);
    PlaceControl(browse, du, 1015, 174, 16, 35, 14);
    restoreButton_ = new QPushButton(QStringLiteral("&Restore"), this);
    PlaceControl(restoreButton_, du, 1, 106, 58, 50, 14);
    restoreButton_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    PlaceControl(cancel, du, 2, 160, 58, 50, 14);
    auto* label = new QLabel(QStringLiteral("Destination"), this);
    label->setGeometry(du.rect(13, 6, 44, 8));
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
    progressBar = new QProgressBar(this);
    PlaceControl(progressBar, du, 1005, 12, 35, 156, 9);
    progressBar->setTextVisible(false);
    progressBar->hide();
    statusLine_ = new ElidedLabel(this);
    PlaceControl(statusLine_, du, 1017, 14, 46, 155, 10);

    connect(browse, &QPushButton::clicked, this, &CExtract::OnBrowse);
    connect(restoreButton_, &QPushButton::clicked, this, &CExtract::accept);
    connect(cancel, &QPushButton::clicked, this, &CExtract::reject);

    if (lastDestination) destination_->setText(QString::fromStdString(*lastDestination));
}

CExtract::~CExtract() {
    if (worker_) worker_->wait();
}

void CExtract::accept() {
    if (!idle) return;
    cancelRequested = 0;
    idle = 0;
    hasRun_ = true;
    if (worker_) worker_->wait();
    worker_.reset(QThread::create([this] { ExtractWorker(); }));
    worker_->start(QThread::LowPriority);
}

void CExtract::reject() {
    cancelRequested = 1;
    if (idle) QDialog::reject();
}

void CExtract::closeEvent(QCloseEvent* event) {
    reject();
    if (!idle) event->ignore();
}

void CExtract::OnBrowse() {
    // Qt's folder picker keeps its history in a settings file of the user's. This program
    // stores nothing, so the picker's settings go to a private folder that goes away with it.
    PrivateTempFolder settings;
    if (settings.Create().ok())
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(settings.path()));
    QString folder = QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Select A Folder"));
    if (!folder.isEmpty()) destination_->setText(folder);
}

void CExtract::ExtractWorker() {
    BeginWaitCursor();
    CallOnThreadOf(this, [&] { restoreButton_->setEnabled(false); });
    notRestored_.clear();
    renamed_.clear();
    restoredFiles_ = 0;
    // The window's current folder is nowhere the user can see: a relative destination
    // would land in it.
    const std::string destination = Destination();
    const bool blank = std::all_of(destination.begin(), destination.end(),
                                   [](unsigned char c) { return std::isspace(c); });
    const bool relative = !blank && destination.front() != '/';
    if (blank) {
        // Said once for the run, not once for each entry.
        if (lastDestination) lastDestination->clear();
        corvane::Ask(this, {kNoDestination, MessageIcon::Error});
        SetStatus("Error");
    } else if (relative) {
        corvane::Ask(this, {"The destination must be a full path, such as " + QDir::homePath().toStdString() +
                                "/Restored, or begin with ~/ for your home folder:\n" + destination,
                            MessageIcon::Error});
        SetStatus("Error");
    } else {
        ExtractionRun run(*this);
        for (std::size_t i = 0; i < streamPaths_.size() && !cancelRequested; ++i) {
            if (recordOffsets_[i] == 0) {
                run.FolderStream(streamPaths_[i]);
            } else {
                run.SingleFile(streamPaths_[i], recordOffsets_[i], itemNames_[i]);
            }
        }
    }
    CallOnThreadOf(this, [&] { restoreButton_->setEnabled(true); });
    SetStatus(doneStatus);
    TellWhatWasNotRestored();
    EndWaitCursor();
    idle = 1;  // the last touch: from here on the dialog may close
}

void CExtract::TellWhatWasNotRestored() {
    std::string text;
    if (!notRestored_.empty()) text = ListedLines("Not restored:", notRestored_);
    if (!renamed_.empty()) {
        if (!text.empty()) text += "\n\n";
        text += ListedLines("Restored under another name, because the destination cannot hold the stored one or another restored file has it:", renamed_);
    }
    if (text.empty()) return;
    corvane::Ask(this, {text, notRestored_.empty() ? MessageIcon::Information : MessageIcon::Warning});
}

void CExtract::RestoredUnder(const std::string& shownPath, const std::string& targetPath) {
    renamed_.push_back(shownPath + " as " + targetPath);
}

void CExtract::NotRestored(const std::string& shownPath, const std::string& reason) {
    notRestored_.push_back(shownPath + ": " + reason);
}

void CExtract::SetStatus(const std::string& text) {
    CallOnThreadOf(this, [&] { statusLine_->SetFullText(StoredTextToQString(text)); });
}

void CExtract::ShowProgress() {
    CallOnThreadOf(this, [&] {
        progressBar->setRange(0, 100);
        progressBar->setValue(0);
        progressBar->show();
    });
}

void CExtract::SetProgress(int percent) {
    CallOnThreadOf(this, [&] { progressBar->setValue(std::clamp(percent, 0, 100)); });
}

std::string CExtract::Destination() {
    std::string text = CallOnThreadOf(this, [&] { return destination_->text().toStdString(); });
    // "~" and "~/..." are the home folder, as in a shell.
    if (text == "~" || text.starts_with("~/")) text.replace(0, 1, QDir::homePath().toStdString());
    return text;
}

MessageAnswer CExtract::Ask(const Message& message) { return corvane::Ask(this, message); }

OverwriteAnswer CExtract::AskOverwrite(const std::string& targetPath) {
    return CallOnThreadOf(this, [&] {
        COverwrite prompt;
        return prompt.Ask(targetPath);
    });
}

void CExtract::BeginWaitCursor() {
    CallOnThreadOf(this, [&] { waitCursor_.Begin(); });
}

void CExtract::EndWaitCursor() {
    CallOnThreadOf(this, [&] { waitCursor_.End(); });
}

}  // namespace corvane
