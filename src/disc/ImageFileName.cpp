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
    std::string prefix = std::string(backupName) + std::string(kDiscWord);
    int highest = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + kExtension.size() || !name.starts_with(prefix) ||
            !name.ends_with(kExtension))
            continue;
        std::string_view digits(name);
        digits = digits.substr(prefix.size(), digits.size() - prefix.size() - kExtension.size());
        if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        highest = std::max(highest, std::stoi(std::string(digits)));
    }
    return highest + 1;
}

}  // namespace corvane
