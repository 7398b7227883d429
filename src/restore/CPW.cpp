#include "restore/CPW.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/DialogUnits.h"
#include "platform/Prompt.h"
#include "restore/BackupCatalog.h"

namespace corvane {

CPW::CPW(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Password"));
    setFont(DialogFont());
    DialogUnits du(font());
    setFixedSize(du.x(149), du.y(56));

    auto* label = new QLabel(QStringLiteral("Password: "), this);
    label->setGeometry(du.rect(17, 13, 36, 8));
    edit_ = new QLineEdit(this);
    PlaceControl(edit_, du, 1012, 61, 11, 75, 14);
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMaxLength(16);
    edit_->setFocus();

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    PlaceControl(ok, du, 1, 34, 33, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CPW::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    PlaceControl(cancel, du, 2, 88, 33, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CPW::reject);
}

std::string CPW::Typed() const { return edit_->text().toStdString(); }

void CPW::accept() {
    KeyParameters parameters;
    if (ParseKeyParameters(expectedPassword, parameters).ok()) {
        // The key check alone decides: nothing of the folder is read for it.
        std::unique_ptr<BackupKey> key;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool opened = BackupKey::Open(Typed(), parameters, key).ok();
        QApplication::restoreOverrideCursor();
        if (opened) {
            openedKey = std::move(key);
            QDialog::accept();
            return;
        }
    } else if (PasswordMatches(Typed(), expectedPassword)) {
        QDialog::accept();
        return;
    }
    Message message;
    message.text = "Invalid Password";
    message.icon = MessageIcon::Error;
    Ask(this, message);
}

}  // namespace corvane
