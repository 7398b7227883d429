#pragma once
// The shared list of 16x16 pictures of the restore tree: four fixed ones, then the file-type
// icons the icon cache appends. It only grows.

#include <QIcon>
#include <vector>

namespace corvane {

class ImageList {
public:
    // Appends a picture and returns its index.
    int Add(const QIcon& icon);
    const QIcon& At(int index) const;
    int Count() const { return static_cast<int>(icons_.size()); }

private:
    std::vector<QIcon> icons_;
};

// Indices of the fixed pictures.
enum FixedImage { kImageFolder = 0, kImageDisc = 1, kImageStick = 2, kImageLockedFolder = 3 };

}  // namespace corvane
