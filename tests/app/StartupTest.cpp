#include <gtest/gtest.h>

#include <QPushButton>

#include "app/AboutBox.h"
#include "app/BackupApp.h"
#include "backup/CBackup.h"
#include "platform/DialogUnits.h"
#include "restore/CRestore.h"

namespace corvane {
namespace {

TEST(Startup, ApplicationObjectHoldsTheSharedResources) {
    CBackupApp app;
    EXPECT_EQ(&theApp(), &app);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(app.byteTable[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(app.dialogFont.pixelSize(), 10);
    EXPECT_TRUE(app.lastDestination.empty());
    EXPECT_TRUE(app.iconKeys.empty());

    app.LoadFixedImages();
    ASSERT_EQ(app.imageList.Count(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(app.imageList.At(i).pixmap(16, 16).isNull()) << "fixed image " << i;
    EXPECT_EQ(app.imageList.Add(QIcon()), 4) << "cached icons follow from index 4";
}

TEST(Startup, RoleWindowsCarryTheirTitles) {
    CBackup backup(BackupWindowServices{});
    EXPECT_EQ(backup.windowTitle(), "Corvane");
    CRestore restore;
    EXPECT_EQ(restore.windowTitle(), "Corvane- Restore");
    EXPECT_TRUE(restore.windowTitle().startsWith("Corvane"));
}

TEST(Startup, AboutBoxKeepsItsProportions) {
    CAbout about;
    EXPECT_EQ(about.windowTitle(), "About Corvane");
    DialogUnits units(about.font());
    auto* ok = qobject_cast<QPushButton*>(FindControl(&about, 1));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), units.rect(178, 7, 50, 16));
    EXPECT_GT(about.width(), ok->geometry().right());
}

}  // namespace
}  // namespace corvane
