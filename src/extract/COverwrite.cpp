#include "extract/COverwrite.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "platform/DialogUnits.h"
#include "platform/ElidedLabel.h"
#include "platform/StoredQText.h"

namespace corvane {

COverwrite::COverwrite(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Overwrite File?"));
    setFont(DialogFont());
    DialogUnits du(font());
    setFixedSize(du.x(186), du.y(104));

    auto* yes = new QPushButton(QStringLiteral("&Yes"), this);
    PlaceControl(yes, du, 1, 22, 60, 50, 14);
    yes->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    PlaceControl(cancel, du, 2, 131, 60, 50, 14);
    // A long path is shortened in the middle, so that the file's name at its end shows.
    target_ = new ElidedLabel(this);
    PlaceControl(target_, du, 1020, 30, 7, 148, 16);
    target_->SetFullText(QStringLiteral("fname"));
    target_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    auto* question = new QLabel(
        QStringLiteral("The destination file already exists. Do you want to overwrite it?"), this);
    question->setGeometry(du.rect(30, 30, 148, 26));
    question->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    question->setWordWrap(true);
    auto* no = new QPushButton(QStringLiteral("&No"), this);
    PlaceControl(no, du, 3, 76, 60, 50, 14);
    applyToAll_ = new QCheckBox(QStringLiteral("Apply to all"), this);
    PlaceControl(applyToAll_, du, 1023, 23, 87, 70, 10);
    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/res/question.png")));
    icon->setGeometry(du.rect(3, 3, 20, 20));
    icon->setAlignment(Qt::AlignCenter);

    connect(yes, &QPushButton::clicked, this, &COverwrite::accept);
    connect(cancel, &QPushButton::clicked, this, &COverwrite::reject);
    connect(no, &QPushButton::clicked, this, &COverwrite::OnNo);
}

OverwriteAnswer COverwrite::Ask(const std::string& targetPath) {
    target_->SetFullText(StoredTextToQString(targetPath));
    applyToAll_->setChecked(false);
    answer_ = OverwriteAnswer::Cancel;
    exec();
    return answer_;
}

void COverwrite::accept() {
    answer_ = applyToAll_->isChecked() ? OverwriteAnswer::YesToAll : OverwriteAnswer::Yes;
    QDialog::accept();
}

void COverwrite::reject() {
    answer_ = OverwriteAnswer::Cancel;
    QDialog::reject();
}

void COverwrite::OnNo() {
    answer_ = applyToAll_->isChecked() ? OverwriteAnswer::NoToAll : OverwriteAnswer::No;
    QDialog::accept();
}

}  // namespace corvane
