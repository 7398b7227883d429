#include "app/AboutBox.h"

#include <QLabel>
#include <QPushButton>

#include "Version.h"
#include "platform/DialogUnits.h"

namespace corvane {

CAbout::CAbout(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Corvane"));
    setFont(DialogFont());
    DialogUnits units(font());
    setFixedSize(units.x(235), units.y(55));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/res/program.png")).pixmap(units.x(20), units.y(20)));
    icon->setGeometry(units.rect(11, 17, 20, 20));

    auto* version = new QLabel(QStringLiteral("Corvane Version ") + QLatin1String(kVersion), this);
    version->setGeometry(units.rect(40, 10, 119, 8));

    auto* notice = new QLabel(QStringLiteral("Backs up a removable drive onto discs.\nFree software."), this);
    notice->setGeometry(units.rect(40, 22, 130, 24));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    PlaceControl(ok, units, 1, 178, 7, 50, 16);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace corvane
