#include "restore/CRestore.h"

#include "app/RaiseInstance.h"
#include "platform/DialogUnits.h"

namespace corvane {

CRestore::CRestore(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Corvane- Restore"));
    setFont(DialogFont());
    DialogUnits units(font());
    resize(units.x(356), units.y(269));
}

void CRestore::OnRaiseInstance(quint32 key) { RaiseWindowFor(this, key); }

}  // namespace corvane
