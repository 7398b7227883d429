#pragma once
// The About box, opened from the backup window's system menu.

#include <QDialog>

namespace corvane {

class CAbout : public QDialog {
    Q_OBJECT
public:
    explicit CAbout(QWidget* parent = nullptr);
};

}  // namespace corvane
