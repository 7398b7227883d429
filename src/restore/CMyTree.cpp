#include "restore/CMyTree.h"

#include <QHeaderView>

#include "app/BackupApp.h"

namespace corvane {

namespace {

// The icon cache's key of a file name: its tail from the last dot on (".txt"), or the whole
// name when it has no dot.
std::string IconKeyOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? name : name.mid(dot)).toStdString();
}

int ImageOf(ItemLook look, const QString& text) {
    switch (look) {
        case ItemLook::Drive:
            return kImageStick;
        case ItemLook::Backup:
            return kImageDisc;
        case ItemLook::LockedFolder:
            return kImageLockedFolder;
        case ItemLook::File:
            return theApp().LookupFileIcon(IconKeyOf(text));
        case ItemLook::Folder:
        case ItemLook::Placeholder:
            break;
    }
    return kImageFolder;
}

// The tip of a file item: its creation and last-write times.
QString FileTipText(const CItemData& file) {
    static constexpr const char* kTipTimePattern = "%A %B %d, %Y  %I%M%p";
    return QStringLiteral("Created:\t%1\nLast Modified:\t%2")
        .arg(QString::fromLocal8Bit(FormatTime(file.created, kTipTimePattern)),
             QString::fromLocal8Bit(FormatTime(file.modified, kTipTimePattern)));
}

}  // namespace

QVariant CTreeItem::data(int column, int role) const {
    if (role != Qt::ToolTipRole) return QTreeWidgetItem::data(column, role);
    if (record && record->kind == kFileItem) return FileTipText(*record);
    return {};
}

CMyTree::CMyTree(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    header()->hide();
    setIconSize(QSize(16, 16));
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void CMyTree::SetShowLoadingCursor(bool show) {
    showLoadingCursor_ = show;
    if (show)
        viewport()->setCursor(QCursor(QPixmap(QStringLiteral(":/res/loading_cursor.png")), 1, 1));
    else
        viewport()->unsetCursor();
}

CTreeItem* CMyTree::ItemOf(QTreeWidgetItem* item) {
    return item && item->type() == CTreeItem::kType ? static_cast<CTreeItem*>(item) : nullptr;
}

QTreeWidgetItem* CMyTree::WidgetOf(const CatalogItem* parent) const {
    if (!parent) return invisibleRootItem();
    return const_cast<CTreeItem*>(static_cast<const CTreeItem*>(parent));
}

int CMyTree::ChildCount(const CatalogItem* parent) const { return WidgetOf(parent)->childCount(); }

CatalogItem* CMyTree::Child(const CatalogItem* parent, int index) const {
    return ItemOf(WidgetOf(parent)->child(index));
}

std::string CMyTree::Text(const CatalogItem* item) const { return WidgetOf(item)->text(0).toStdString(); }

void CMyTree::Show(CTreeItem* item, const QString& text, ItemLook look) {
    item->look = look;
    item->image = ImageOf(look, text);
    item->setText(0, text);
    item->setIcon(0, theApp().imageList.At(item->image));
}

CatalogItem* CMyTree::Insert(CatalogItem* parent, int index, const std::string& text, ItemLook look) {
    auto* item = new CTreeItem;
    Show(item, QString::fromStdString(text), look);
    WidgetOf(parent)->insertChild(index, item);
    return item;
}

void CMyTree::SetLook(CatalogItem* item, const std::string& text, ItemLook look) {
    Show(static_cast<CTreeItem*>(item), QString::fromStdString(text), look);
}

void CMyTree::DeleteSubtree(CatalogItem* item) { delete static_cast<CTreeItem*>(item); }

}  // namespace corvane
