#include "disc/ImageFileName.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "archive/StreamFormat.h"

namespace corvane {

namespace {
constexpr std::string_view kDiscWord = " disc ";
constexpr std::string_view kExtension = ".iso";
constexpr std::string_view kFallbackName = "Corvane";

// The disc number in a name "<prefix>NN.iso", or 0 when the name is not one.
int DiscNumberAfter(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() + kExtension.size() || !name.starts_with(prefix) ||
        !name.ends_with(kExtension))
        return 0;
    const std::string_view digits =
        name.substr(prefix.size(), name.size() - prefix.size() - kExtension.size());
    if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    return std::stoi(std::string(digits));
}

}  // namespace

std::string DiscBackupName(const std::vector<std::string>& namesOnDisc) {
    for (const auto& name : namesOnDisc) {
        StreamNameParts parts;
        if (ParseStreamName(name, parts)) return parts.label + " " + parts.timeStamp;
    }
    return std::string(kFallbackName);
}

std::string ImageFileName(std::string_view backupName, int discNumber) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", discNumber);
    return std::string(backupName) + std::string(kDiscWord) + number + std::string(kExtension);
}

int NextDiscNumber(const std::string& folder, std::string_view backupName) {
    const std::string prefix = std::string(backupName) + std::string(kDiscWord);
    int highest = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        highest = std::max(highest, DiscNumberAfter(it->path().filename().string(), prefix));
    return highest + 1;
}

std::vector<std::string> DiscImagesOfItsBackup(const std::string& imagePath) {
    const std::filesystem::path path(imagePath);
    const std::string name = path.filename().string();
    const auto word = name.rfind(kDiscWord);
    if (word == std::string::npos) return {imagePath};
    const std::string prefix = name.substr(0, word + kDiscWord.size());
    if (DiscNumberAfter(name, prefix) == 0) return {imagePath};
    std::vector<std::pair<int, std::string>> discs;
    std::error_code error;
    for (std::filesystem::directory_iterator it(path.parent_path().empty() ? "." : path.parent_path(), error), end;
         !error && it != end; it.increment(error)) {
        const int number = DiscNumberAfter(it->path().filename().string(), prefix);
        if (number > 0) discs.emplace_back(number, (path.parent_path() / it->path().filename()).string());
    }
    if (discs.empty()) return {imagePath};
    std::sort(discs.begin(), discs.end());
    std::vector<std::string> paths;
    for (auto& disc : discs) paths.push_back(std::move(disc.second));
    return paths;
}

}  // namespace corvane
