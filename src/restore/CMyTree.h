#pragma once
// The restore window's backup tree: a tree widget that holds the catalog's items, shows the
// pictures of the application's image list, a tip over every file item and the loading cursor
// while the streams are being read.

#include <QTreeWidget>

#include "restore/BackupCatalog.h"

namespace corvane {

// An item of the tree; it owns its record.
class CTreeItem final : public QTreeWidgetItem, public CatalogItem {
  public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;  // tells it from other items
    CTreeItem() : QTreeWidgetItem(kType) {}

    // Index of its picture in the application's imageList.
    int image = 0;

    // The tip of a file item ("Created:" and "Last Modified:"); other items have none.
    QVariant data(int column, int role) const override;
};

class CMyTree final : public QTreeWidget, public CatalogTree {
    Q_OBJECT
  public:
    explicit CMyTree(QWidget* parent = nullptr);

    // The loading cursor over the tree, while the streams are being read.
    void SetShowLoadingCursor(bool show);
    bool showLoadingCursor() const { return showLoadingCursor_; }

    // The catalog item of a widget item (null for null).
    static CTreeItem* ItemOf(QTreeWidgetItem* item);

    int ChildCount(const CatalogItem* parent) const override;
    CatalogItem* Child(const CatalogItem* parent, int index) const override;
    std::string Text(const CatalogItem* item) const override;
    CatalogItem* Insert(CatalogItem* parent, int index, const std::string& text,
                        ItemLook look) override;
    void SetLook(CatalogItem* item, const std::string& text, ItemLook look) override;
    void DeleteSubtree(CatalogItem* item) override;

  private:
    QTreeWidgetItem* WidgetOf(const CatalogItem* parent) const;
    void Show(CTreeItem* item, const QString& text, ItemLook look);

    bool showLoadingCursor_ = false;
};

}  // namespace corvane
