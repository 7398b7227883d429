#include "restore/PlainCatalogTree.h"

#include <algorithm>

namespace corvane {

const PlainCatalogTree::Node* PlainCatalogTree::NodeOf(const CatalogItem* item) const {
    return item ? static_cast<const Node*>(item) : &root_;
}

PlainCatalogTree::Node* PlainCatalogTree::NodeOf(CatalogItem* item) {
    return item ? static_cast<Node*>(item) : &root_;
}

int PlainCatalogTree::ChildCount(const CatalogItem* parent) const {
    return static_cast<int>(NodeOf(parent)->children.size());
}

CatalogItem* PlainCatalogTree::Child(const CatalogItem* parent, int index) const {
    return NodeOf(parent)->children[static_cast<std::size_t>(index)].get();
}

std::string PlainCatalogTree::Text(const CatalogItem* item) const { return NodeOf(item)->text; }

CatalogItem* PlainCatalogTree::Insert(CatalogItem* parent, int index, const std::string& text,
                                      ItemLook look) {
    Node* into = NodeOf(parent);
    auto node = std::make_unique<Node>();
    node->text = text;
    node->look = look;
    node->parent = into;
    Node* inserted = node.get();
    into->children.insert(into->children.begin() + index, std::move(node));
    return inserted;
}

void PlainCatalogTree::SetLook(CatalogItem* item, const std::string& text, ItemLook look) {
    Node* node = NodeOf(item);
    node->text = text;
    node->look = look;
}

void PlainCatalogTree::DeleteSubtree(CatalogItem* item) {
    Node* node = NodeOf(item);
    auto& siblings = node->parent->children;
    siblings.erase(
        std::find_if(siblings.begin(), siblings.end(),
                     [node](const std::unique_ptr<Node>& child) { return child.get() == node; }));
}

}  // namespace corvane
