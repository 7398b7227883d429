#pragma once
// The files of an image-file recorder: every recorded disc is "<backup name> disc 01.iso" in
// the recorder's folder, numbered so that the discs of a backup sort in disc order.

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The backup a disc belongs to, from the first backup stream among the names on it
// ("DATA 0812251430 3.cvn" gives "DATA 0812251430"); "Corvane" for a disc without streams.
std::string DiscBackupName(const std::vector<std::string>& namesOnDisc);

// "<backup name> disc NN.iso", with at least two digits.
std::string ImageFileName(std::string_view backupName, int discNumber);

// The number of a backup's next disc in the folder: one more than the highest there, so a new
// disc sorts after the backup's existing files and never takes their names.
int NextDiscNumber(const std::string& folder, std::string_view backupName);

// The disc images of the backup whose disc image file is at imagePath: every
// "<backup name> disc NN.iso" in its folder, in disc order. A name of another form stands alone.
std::vector<std::string> DiscImagesOfItsBackup(const std::string& imagePath);

}  // namespace corvane
