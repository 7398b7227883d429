#pragma once
// The properties of a tree item: its name, and its creation and last-write times.

#include <QDialog>

#include "restore/BackupCatalog.h"

namespace corvane {

class CProps : public QDialog {
    Q_OBJECT
  public:
    // shown may be null: the dialog then keeps its placeholder texts.
    explicit CProps(const CItemData* shown, QWidget* parent = nullptr);

    const CItemData* item;  // not owned; outlives the dialog
};

}  // namespace corvane
