#pragma once
// The password prompt of a protected folder: it closes with OK only when the typed password
// matches the folder's stored one.

#include <QDialog>
#include <string>

class QLineEdit;

namespace corvane {

class CPW : public QDialog {
    Q_OBJECT
  public:
    explicit CPW(QWidget* parent = nullptr);

    // The stream's stored Password; set before running the prompt.
    std::string expectedPassword;

  public slots:
    // OK: closes on a match, else says "Invalid Password" and stays open.
    void accept() override;

  private:
    QLineEdit* edit_;
};

}  // namespace corvane
