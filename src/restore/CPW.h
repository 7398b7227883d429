#pragma once
// The password prompt of a protected folder: it closes with OK only when the typed password
// matches the folder's stored one or, for an encrypted folder, passes its key check.

#include <QDialog>
#include <memory>
#include <string>

#include "archive/BackupKey.h"

class QLineEdit;

namespace corvane {

class CPW : public QDialog {
    Q_OBJECT
  public:
    explicit CPW(QWidget* parent = nullptr);

    // The stream's stored Password (an encrypted stream's key parameters); set before running
    // the prompt.
    std::string expectedPassword;
    // The key the typed password opened, for an encrypted folder.
    std::shared_ptr<const BackupKey> openedKey;
    // The password as typed.
    std::string Typed() const;

  public slots:
    // OK: closes on a match, else says "Invalid Password" and stays open.
    void accept() override;

  private:
    QLineEdit* edit_;
};

}  // namespace corvane
