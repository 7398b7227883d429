#pragma once
// The restore window. Its tree, scan and commands arrive with the restore browser; for now it
// opens with its title and closes on Cancel.

#include <QDialog>

namespace corvane {

class CRestore : public QDialog {
    Q_OBJECT
public:
    explicit CRestore(QWidget* parent = nullptr);

public slots:
    void OnRaiseInstance(quint32 key);
};

}  // namespace corvane
