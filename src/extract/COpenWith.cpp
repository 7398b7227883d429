#include "extract/COpenWith.h"

#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "platform/DialogUnits.h"
#include "platform/ElidedLabel.h"

namespace corvane {

namespace {

// Icon holds a theme name, or the path of a picture.
QIcon IconOf(const DesktopApp& app) {
    const QString icon = QString::fromStdString(app.icon);
    if (QFileInfo(icon).isAbsolute()) return QIcon(icon);
    return QIcon::fromTheme(icon, QIcon::fromTheme(QStringLiteral("application-x-executable")));
}

}  // namespace

COpenWith::COpenWith(const std::string& path, std::vector<DesktopApp> apps, QWidget* parent)
    : QDialog(parent), apps_(std::move(apps)) {
    setWindowTitle(QStringLiteral("Open With"));
    setFont(DialogFont());
    DialogUnits du(font());
    setFixedSize(du.x(200), du.y(170));

    auto* prompt =
        new QLabel(QStringLiteral("Choose the program you want to use to open this file:"), this);
    prompt->setGeometry(du.rect(7, 7, 186, 8));
    auto* file = new ElidedLabel(this);
    PlaceControl(file, du, 1041, 7, 17, 186, 8);
    file->SetFullText(QFileInfo(QString::fromStdString(path)).fileName());
    list_ = new QListWidget(this);
    PlaceControl(list_, du, 1040, 7, 30, 186, 110);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    PlaceControl(ok, du, 1, 89, 149, 50, 14);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    PlaceControl(cancel, du, 2, 143, 149, 50, 14);

    for (const DesktopApp& app : apps_)
        list_->addItem(new QListWidgetItem(IconOf(app), QString::fromStdString(app.name)));
    if (apps_.empty()) {
        // Nothing to choose: the list says so, and only Cancel is left.
        auto* none = new QLabel(
            QStringLiteral("No program on this computer is registered to open this kind of file."),
            this);
        PlaceControl(none, du, 1042, 7, 30, 186, 110);
        none->setAlignment(Qt::AlignCenter);
        none->setWordWrap(true);
        list_->hide();
        ok->hide();
        cancel->setDefault(true);
    } else {
        list_->setCurrentRow(0);
        ok->setDefault(true);
    }

    connect(ok, &QPushButton::clicked, this, &COpenWith::accept);
    connect(cancel, &QPushButton::clicked, this, &COpenWith::reject);
    connect(list_, &QListWidget::itemActivated, this, &COpenWith::accept);
}

std::optional<DesktopApp> COpenWith::Choose() {
    if (exec() != QDialog::Accepted) return std::nullopt;
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(apps_.size())) return std::nullopt;
    return apps_[static_cast<std::size_t>(row)];
}

ChooseApp COpenWith::ChooserFor(QWidget* owner) {
    return [owner](const std::string& path, const std::vector<DesktopApp>& apps) {
        COpenWith dialog(path, apps, owner);
        return dialog.Choose();
    };
}

}  // namespace corvane
