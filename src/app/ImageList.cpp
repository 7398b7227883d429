#include "app/ImageList.h"

namespace corvane {

int ImageList::Add(const QIcon& icon) {
    icons_.push_back(icon);
    return Count() - 1;
}

const QIcon& ImageList::At(int index) const {
    static const QIcon kNone;
    if (index < 0 || index >= Count()) return kNone;
    return icons_[static_cast<std::size_t>(index)];
}

}  // namespace corvane
