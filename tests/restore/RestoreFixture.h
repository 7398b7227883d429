#pragma once
// Restore windows over a scratch "disc" folder of backup streams, with the application object
// they need. Times are shown in UTC with the C library's English names.

#include <gtest/gtest.h>

#include <QTest>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "TestFileSystems.h"
#include "app/BackupApp.h"
#include "restore/CRestore.h"
#include "support/ScratchFolder.h"
#include "support/ScriptedPrompt.h"
#include "support/StreamTestUtil.h"

namespace corvane::test {

class RestoreTest : public ::testing::Test {
  protected:
    RestoreTest() {
        app.LoadFixedImages();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        std::setlocale(LC_TIME, "C");
    }
    ~RestoreTest() override {
        if (gate) gate->Release();  // a scan held at the gate ends before its window goes
        window.reset();
    }

    // Writes a stream file of that name into the disc folder and returns its path.
    std::string Stream(const std::string& name, const std::string& folderPath,
                       const std::vector<SampleFile>& files = {},
                       const std::string& password = "") {
        const std::string path = disc / name;
        EXPECT_TRUE(WriteSampleStream(path, folderPath, password, files).ok()) << name;
        return path;
    }

    // Opens a window on the sources (the disc folder by default) and, unless told otherwise,
    // waits until its scan has ended.
    CRestore& Open(std::vector<std::string> sources = {}, FileSystem* files = &DefaultFileSystem(),
                   bool waitForScan = true) {
        if (sources.empty()) sources.push_back(disc.path());
        window = std::make_unique<CRestore>(std::move(sources), files);
        if (waitForScan) WaitForScan();
        return *window;
    }

    void WaitForScan() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->scanFinished == 1; }, 60000));
    }

    CMyTree& Tree() { return *window->tree; }
    std::string Outline() { return CatalogOutline(Tree()); }

    // The item reached by a path of texts from the top level, or null.
    CTreeItem* Item(const std::vector<QString>& texts) {
        QTreeWidgetItem* item = nullptr;
        for (const QString& text : texts) {
            const int count = item ? item->childCount() : Tree().topLevelItemCount();
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; i < count && !next; ++i) {
                QTreeWidgetItem* child = item ? item->child(i) : Tree().topLevelItem(i);
                if (child->text(0) == text) next = child;
            }
            if (!next) return nullptr;
            item = next;
        }
        return CMyTree::ItemOf(item);
    }

    // Expands the item at a path, as a click on its button does.
    CTreeItem* Expand(const std::vector<QString>& texts) {
        CTreeItem* item = Item(texts);
        EXPECT_NE(item, nullptr) << texts.back().toStdString();
        if (item) Tree().expandItem(item);
        return item;
    }

    static std::vector<std::string> ChildTexts(const QTreeWidgetItem* item) {
        std::vector<std::string> texts;
        for (int i = 0; i < item->childCount(); ++i)
            texts.push_back(item->child(i)->text(0).toStdString());
        return texts;
    }

    CBackupApp app;
    // What the window says when its scan could not read everything, and any other message
    // a test does not script itself.
    ScriptedPrompt scanWarnings;
    ScratchFolder disc;
    NameOrderedListing ascendingNames{false}, descendingNames{true};
    std::unique_ptr<GatedFileSystem> gate;
    std::unique_ptr<CRestore> window;
};

}  // namespace corvane::test
