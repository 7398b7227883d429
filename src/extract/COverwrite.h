#pragma once
// Asks whether an existing file may be replaced: Yes, No, Cancel, with "Apply to all" turning
// Yes and No into their "to all" forms. It remembers nothing between showings.

#include <QDialog>
#include <string>

#include "extract/ExtractHost.h"

class QCheckBox;

namespace corvane {

class ElidedLabel;

class COverwrite : public QDialog {
    Q_OBJECT
public:
    explicit COverwrite(QWidget* parent = nullptr);

    // Shows the prompt for a target path and returns the answer; every way out sets one.
    OverwriteAnswer Ask(const std::string& targetPath);

    OverwriteAnswer answer() const { return answer_; }

protected:
    void accept() override;  // "&Yes" and Enter
    void reject() override;  // "&Cancel", Escape and the close box

private:
    void OnNo();

    OverwriteAnswer answer_ = OverwriteAnswer::No;
    ElidedLabel* target_ = nullptr;
    QCheckBox* applyToAll_ = nullptr;
};

}  // namespace corvane
