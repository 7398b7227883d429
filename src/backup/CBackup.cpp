#include "backup/CBackup.h"

#include "app/RaiseInstance.h"
#include "platform/DialogUnits.h"

namespace corvane {

CBackup::CBackup(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Corvane"));
    setFont(DialogFont());
    DialogUnits units(font());
    setFixedSize(units.x(252), units.y(202));
}

void CBackup::OnRaiseInstance(quint32 key) { RaiseWindowFor(this, key); }

}  // namespace corvane
