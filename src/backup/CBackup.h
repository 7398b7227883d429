#pragma once
// The backup window. Its controls, the job it runs and its rules arrive with the backup role;
// for now it opens with its title and closes on Cancel.

#include <QDialog>

namespace corvane {

class CBackup : public QDialog {
    Q_OBJECT
public:
    explicit CBackup(QWidget* parent = nullptr);

public slots:
    void OnRaiseInstance(quint32 key);
};

}  // namespace corvane
