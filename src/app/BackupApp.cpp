#include "app/BackupApp.h"

#include <QApplication>
#include <cassert>

#include "app/CloseOnSignal.h"
#include "app/Resources.h"
#include "app/RoleChoice.h"
#include "app/SingleInstance.h"
#include "archive/BlockCodec.h"
#include "disc/DiscLayer.h"
#include "disc/DiscLayer.h"
#include "backup/CBackup.h"
#include "restore/CRestore.h"

namespace corvane {

namespace {

CBackupApp* current = nullptr;

QFont MakeDialogFont() {
    QFont font;
    font.setPixelSize(10);
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::PreferQuality);
    return font;
}

template <class Dialog>
int RunMainDialog(SingleInstance& instance, Dialog& dialog) {
    QObject::connect(&instance, &SingleInstance::raiseRequested, &dialog, &Dialog::OnRaiseInstance);
    CloseOnSignal closer(dialog);
    dialog.exec();
    return 0;
}

}  // namespace

CBackupApp::CBackupApp() : dialogFont(MakeDialogFont()), byteTable(corvane::byteTable) {
    LoadResources();
    assert(!current);
    current = this;
}

CBackupApp::~CBackupApp() { current = nullptr; }

CBackupApp& theApp() {
    assert(current);
    return *current;
}

void CBackupApp::LoadFixedImages() {
    if (imageList.Count() > 0) return;
    imageList.Add(QIcon(QStringLiteral(":/res/folder_yellow.png")));
    imageList.Add(QIcon(QStringLiteral(":/res/disc.png")));
    imageList.Add(QIcon(QStringLiteral(":/res/stick.png")));
    imageList.Add(QIcon(QStringLiteral(":/res/folder_red.png")));
}

int CBackupApp::InitInstance() {
    SingleInstance instance;
    if (!instance.BecomeFirst()) {
        SingleInstance::SendRaise();
        return 0;
    }
    QCoreApplication::setOrganizationName(QStringLiteral("Quorrel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/res/program.png")));
    LoadFixedImages();

    if (ChooseRole(CurrentFolder()) == Role::Restore) {
        CRestore window;
        window.lastDestination = &lastDestination;
        return RunMainDialog(instance, window);
    }
    BackupWindowServices services{[] {
                                      DiscLayerOptions options{DefaultImageRecorders(DefaultImageFolder()), true};
                                      return std::shared_ptr<IDiscMaster>(CreateDiscMaster(options));
                                  },
                                  "/", PickFolderWithDialog, true};
    CBackup window(std::move(services));
    return RunMainDialog(instance, window);
}

}  // namespace corvane
