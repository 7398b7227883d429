#include "support/PeerTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>

#include "support/ScratchFolder.h"

namespace corvane::test {

namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command and returns its standard output; fails the test on a non-zero exit.
std::string Run(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << command;
    return output;
}

}  // namespace

FilePrints Prints(const std::map<std::string, std::string>& files) {
    FilePrints prints;
    for (const auto& [name, bytes] : files)
        prints[name] = std::to_string(bytes.size()) + " bytes, hash " +
                       std::to_string(std::hash<std::string>{}(bytes));
    return prints;
}

FilePrints ExtractWithXorriso(const std::string& image, const std::string& intoFolder) {
    Run("xorriso -osirrox on -indev " + Quote("stdio:" + image) + " -extract / " +
        Quote(intoFolder));
    std::map<std::string, std::string> files;
    for (const auto& name : FolderNames(intoFolder))
        files[name] = ReadWholeFile(intoFolder + "/" + name);
    return Prints(files);
}

std::map<std::string, FileExtent> FileExtents(const std::string& image) {
    // "File data lba:  0 ,  2389 ,  246 ,  501929 , '/DATA 2612111129 1.cvn'"
    const std::regex line(R"(File data lba:\s*\d+\s*,\s*(\d+)\s*,\s*\d+\s*,\s*(\d+)\s*,\s*'/(.*)')");
    std::map<std::string, FileExtent> extents;
    std::istringstream report(Run("xorriso -indev " + Quote("stdio:" + image) + " -find / -exec report_lba --"));
    for (std::string text; std::getline(report, text);) {
        std::smatch match;
        if (std::regex_match(text, match, line))
            extents[match[3]] = {static_cast<std::uint32_t>(std::stoul(match[1])), std::stoull(match[2])};
    }
    return extents;
}

bool XorrisoChecksMd5(const std::string& image) {
    const std::string command = "xorriso -md5 on -indev " + Quote("stdio:" + image) +
                                " -check_md5 FAILURE -- -check_md5_r FAILURE / -- >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::map<std::string, std::uint64_t> JolietListing(const std::string& image) {
    // "-r--r--r--    1 0        0           12345 Dec 10 05:16 'DATA 0812251430 0.cvn'"
    static const std::regex kFileLine(R"(^-\S+\s+\d+\s+\S+\s+\S+\s+(\d+) .* '(.*)'$)");
    std::map<std::string, std::uint64_t> files;
    std::istringstream lines(Run("xorriso -local_charset UTF-8 -rockridge off -joliet on -indev " +
                                 Quote("stdio:" + image) + " -lsl /"));
    std::string line;
    std::smatch match;
    while (std::getline(lines, line))
        if (std::regex_match(line, match, kFileLine)) files[match[2]] = std::stoull(match[1]);
    return files;
}

void MakeImageWithXorriso(const std::string& folder, const std::string& image) {
    Run("xorriso -local_charset UTF-8 -outdev " + Quote("stdio:" + image) +
        " -joliet on -map " + Quote(folder) + " /");
}

void MakeJolietOnlyImage(const std::string& folder, const std::string& image) {
    Run("genisoimage -quiet -input-charset utf-8 -J -o " + Quote(image) + " " + Quote(folder));
}

namespace {

// The names in a folder, sorted: its hidden folders, or everything else.
std::vector<std::string> NamesIn(const std::string& folder, bool hiddenFolders) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::string name = it->path().filename().string();
        if ((name.starts_with(".") && it->is_directory()) == hiddenFolders) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<std::string> FolderNames(const std::string& folder) { return NamesIn(folder, false); }

std::vector<std::string> HiddenFolders(const std::string& folder) { return NamesIn(folder, true); }

bool RecordingSink::QueryCancel() {
    if (!cancelAfterFirstBlocks) return false;
    for (const auto& event : events)
        if (event.kind == SinkEvent::Blocks) return true;
    return false;
}

Status RecordingSink::NotifyBlockProgress(int completedBlocks, int totalBlocks) {
    events.push_back({SinkEvent::Blocks, completedBlocks, totalBlocks});
    return Status::Ok();
}

Status RecordingSink::NotifyPreparingBurn(int) {
    events.push_back({SinkEvent::Preparing});
    return Status::Ok();
}

Status RecordingSink::NotifyClosingDisc(int) {
    events.push_back({SinkEvent::Closing});
    return Status::Ok();
}

Status RecordingSink::NotifyBurnComplete(const Status& result) {
    events.push_back({SinkEvent::Complete, 0, 0, result.code()});
    return Status::Ok();
}

}  // namespace corvane::test
