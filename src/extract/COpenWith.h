#pragma once
// "Open With": the applications that open a file's type, each with its icon and name, the
// default first and selected. OK starts nothing itself: the choice goes back to the caller.

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "extract/OpenFile.h"
#include "platform/DesktopApps.h"

class QListWidget;

namespace corvane {

class COpenWith : public QDialog {
    Q_OBJECT
  public:
    // apps in the order AppsFor gives them.
    COpenWith(const std::string& path, std::vector<DesktopApp> apps, QWidget* parent = nullptr);

    // Shows the dialog; the chosen application, or nullopt on Cancel.
    std::optional<DesktopApp> Choose();

    // The chooser LaunchPath takes: this dialog, owned by owner.
    static ChooseApp ChooserFor(QWidget* owner);

  private:
    std::vector<DesktopApp> apps_;
    QListWidget* list_ = nullptr;
};

}  // namespace corvane
