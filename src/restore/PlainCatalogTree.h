#pragma once
// A backup tree in memory, for the command line: the same catalog as the restore window's,
// without widgets.

#include <memory>
#include <string>
#include <vector>

#include "restore/BackupCatalog.h"

namespace corvane {

class PlainCatalogTree final : public CatalogTree {
  public:
    int ChildCount(const CatalogItem* parent) const override;
    CatalogItem* Child(const CatalogItem* parent, int index) const override;
    std::string Text(const CatalogItem* item) const override;
    CatalogItem* Insert(CatalogItem* parent, int index, const std::string& text,
                        ItemLook look) override;
    void SetLook(CatalogItem* item, const std::string& text, ItemLook look) override;
    void DeleteSubtree(CatalogItem* item) override;

  private:
    struct Node final : CatalogItem {
        std::string text;
        Node* parent = nullptr;
        std::vector<std::unique_ptr<Node>> children;
    };

    const Node* NodeOf(const CatalogItem* item) const;
    Node* NodeOf(CatalogItem* item);

    Node root_;
};

}  // namespace corvane
