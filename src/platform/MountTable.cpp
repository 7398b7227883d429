#include "platform/MountTable.h"

#include <cstdio>

namespace corvane {

namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string Unescape(std::string_view field) {
    auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            isOctal(field[i + 1]) && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string_view> SplitSpaces(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool ParseDevice(std::string_view text, unsigned& major, unsigned& minor) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    try {
        major = static_cast<unsigned>(std::stoul(std::string(text.substr(0, colon))));
        minor = static_cast<unsigned>(std::stoul(std::string(text.substr(colon + 1))));
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    // Fields: id parent major:minor root mount-point options [optional...] - fstype source super
    std::vector<MountEntry> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        auto fields = SplitSpaces(line);
        std::size_t dash = 0;
        for (std::size_t i = 6; i < fields.size(); ++i) {
            if (fields[i] == "-") {
                dash = i;
                break;
            }
        }
        if (dash == 0 || dash + 2 >= fields.size()) continue;
        MountEntry entry;
        if (!ParseDevice(fields[2], entry.major, entry.minor)) continue;
        entry.mountPoint = Unescape(fields[4]);
        entry.fsType = Unescape(fields[dash + 1]);
        entry.source = Unescape(fields[dash + 2]);
        if (entry.mountPoint.empty() || entry.mountPoint[0] != '/') continue;
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

std::vector<MountEntry> ReadMountTable(const std::string& root) {
    // Plain C input: iostreams would add about 600 KB to the static portable restorer.
    std::FILE* in = std::fopen((root + "/proc/self/mountinfo").c_str(), "rb");
    if (!in) return {};
    std::string text;
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, in)) > 0;) text.append(block, got);
    std::fclose(in);
    return ParseMountInfo(text);
}

std::optional<MountEntry> MountOfPath(const std::vector<MountEntry>& mounts, std::string_view path) {
    const MountEntry* best = nullptr;
    for (const auto& m : mounts) {
        std::string_view mp = m.mountPoint;
        bool inside = false;
        if (mp == "/") {
            inside = !path.empty() && path[0] == '/';
        } else if (path.size() >= mp.size() && path.substr(0, mp.size()) == mp) {
            inside = path.size() == mp.size() || path[mp.size()] == '/';
        }
        if (inside && (!best || mp.size() >= best->mountPoint.size())) best = &m;
    }
    if (!best) return std::nullopt;
    return *best;
}

bool IsOpticalMount(const MountEntry& mount) {
    constexpr unsigned kScsiCdromMajor = 11;
    if (mount.fsType == "iso9660" || mount.fsType == "udf") return true;
    if (mount.source.rfind("/dev/sr", 0) == 0) return true;
    return mount.major == kScsiCdromMajor;
}

std::vector<std::string> MountedDiscs(const std::string& root) {
    std::vector<std::string> discs;
    for (const MountEntry& mount : ReadMountTable(root))
        if (IsOpticalMount(mount)) discs.push_back(mount.mountPoint);
    return discs;
}

bool IsOnOpticalDisc(const std::vector<MountEntry>& mounts, std::string_view path) {
    if (path.empty()) return false;
    auto mount = MountOfPath(mounts, path);
    return mount && IsOpticalMount(*mount);
}

}  // namespace corvane
