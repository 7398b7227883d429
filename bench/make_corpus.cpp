// Writes the benchmark's input trees; the same arguments give the same names and bytes.
//   make-corpus stick DIR MEGABYTES [SEED]  a USB stick of about MEGABYTES MB (10^6 bytes):
//       two large mixed files, photos and music, compressed archives, documents, source
//       trees, thousands of small files (some empty) in nested folders, empty folders
//   make-corpus many-folders DIR MEGABYTES [SEED]  a well-used stick of about MEGABYTES MB in
//       many small folders; at 300 MB: 11,000 files in 2,800 folders, 60 MB of text, 40 MB of
//       compressed archives, 8,000 small files, 3 large mixed files, photos and music
//   make-corpus folders DIR COUNT           COUNT folders in groups of 100, one tiny file each

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "CorpusContent.h"

namespace fs = std::filesystem;
using corvane::bench::ContentMaker;

namespace {

constexpr std::size_t kMB = 1'000'000;

class TreeWriter {
public:
    TreeWriter(fs::path root, ContentMaker& maker) : root_(std::move(root)), maker_(maker) {}

    void Folder(const std::string& relative) {
        fs::create_directories(root_ / relative);
        folders_.insert(relative);
    }

    // A new folder below a random one of parents, at most maxDepth levels below base.
    std::string SubFolder(const std::vector<std::string>& parents, const std::string& base, int maxDepth) {
        for (;;) {
            const std::string& parent = parents[maker_.random().Below(parents.size())];
            const auto depth = std::count(parent.begin() + static_cast<long>(base.size()), parent.end(), '/');
            if (depth >= maxDepth) continue;
            std::string name = maker_.Word();
            name[0] = static_cast<char>(name[0] - 'a' + 'A');
            if (maker_.random().Chance(30)) name += " " + maker_.Word();
            const std::string path = parent + "/" + name;
            if (folders_.count(path)) continue;
            Folder(path);
            return path;
        }
    }

    std::vector<std::string> FolderTree(const std::string& base, std::size_t count, int maxDepth) {
        Folder(base);
        std::vector<std::string> folders{base};
        while (folders.size() < count) folders.push_back(SubFolder(folders, base, maxDepth));
        return folders;
    }

    // A file named from the vocabulary (made unique) in folder; returns its size.
    std::size_t File(const std::string& folder, const std::string& extension, const std::string& content) {
        std::string name = maker_.Word();
        if (maker_.random().Chance(40)) name += " " + maker_.Word();
        if (maker_.random().Chance(30)) name += "_" + std::to_string(maker_.random().Below(1000));
        std::string path = folder + "/" + name + extension;
        for (int copy = 2; files_.count(path); ++copy) path = folder + "/" + name + " (" + std::to_string(copy) + ")" + extension;
        Write(path, content);
        return content.size();
    }

    void Write(const std::string& relative, const std::string& content) {
        const fs::path path = root_ / relative;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(content.data(), 1, content.size(), file) != content.size() || std::fclose(file) != 0)
            throw std::runtime_error("cannot write " + path.string());
        files_.insert(relative);
        bytes_ += content.size();
    }

    void Report() const {
        std::printf("%s: %zu files, %zu folders, %zu bytes\n", root_.c_str(), files_.size(), folders_.size(), bytes_);
    }

private:
    fs::path root_;
    ContentMaker& maker_;
    std::set<std::string> folders_;
    std::set<std::string> files_;
    std::size_t bytes_ = 0;
};

// Fills random folders of the tree with files of sizes in [low, high] until budget bytes.
void FillFolders(TreeWriter& tree, ContentMaker& maker, const std::vector<std::string>& folders, std::size_t budget,
                 std::size_t low, std::size_t high,
                 const std::function<std::pair<std::string, std::string>(std::size_t)>& make) {
    for (std::size_t written = 0; written < budget;) {
        const std::size_t size = std::min(maker.random().Between(low, high), std::max<std::size_t>(budget - written, 1));
        auto [extension, content] = make(size);
        written += tree.File(folders[maker.random().Below(folders.size())], extension, content) + 1;
    }
}

void WriteStick(const fs::path& root, std::size_t megabytes, std::uint64_t seed) {
    ContentMaker maker(seed);
    auto& random = maker.random();
    TreeWriter tree(root, maker);
    const std::size_t total = megabytes * kMB;
    const auto share = [total](double part) { return static_cast<std::size_t>(static_cast<double>(total) * part); };

    tree.Folder("Disk Images");
    tree.Write("Disk Images/old laptop.img", maker.Mixed(share(0.27), 40));
    tree.Folder("Videos/Summer 2019");
    tree.Write("Videos/Summer 2019/trip to the coast.mov", maker.Mixed(share(0.20), 85));

    auto photos = tree.FolderTree("Photos", 12, 2);
    tree.Folder("Photos/Été à Montréal");
    photos.push_back("Photos/Été à Montréal");
    const auto music = tree.FolderTree("Music", 10, 2);
    FillFolders(tree, maker, photos, share(0.11), 200'000, 6'000'000, [&](std::size_t size) {
        return std::pair{std::string(random.Chance(80) ? ".jpg" : ".png"), maker.Noise(size)};
    });
    FillFolders(tree, maker, music, share(0.07), 1'000'000, 6'000'000,
                [&](std::size_t size) { return std::pair{std::string(".mp3"), maker.Noise(size)}; });

    const auto documents = tree.FolderTree("Documents", 40, 4);
    tree.Folder("Documents/Ångström notes");
    tree.Write("Documents/Ångström notes/naïve café.txt", maker.Prose(3000));
    FillFolders(tree, maker, documents, share(0.07), 20'000, 3'000'000, [&](std::size_t size) {
        static const char* const kExtensions[] = {".gz", ".zip", ".docx", ".pdf"};
        return std::pair{std::string(kExtensions[random.Below(4)]), maker.Compressed(size)};
    });
    FillFolders(tree, maker, documents, share(0.15), 2'000, 400'000, [&](std::size_t size) {
        if (random.Chance(25)) return std::pair{std::string(".log"), maker.LogLines(size)};
        return std::pair{std::string(random.Chance(50) ? ".txt" : ".md"), maker.Prose(size)};
    });

    const auto projects = tree.FolderTree("Projects", 20 + megabytes, 6);
    FillFolders(tree, maker, projects, share(0.08), 200, 40'000, [&](std::size_t size) {
        return std::pair{std::string(random.Chance(70) ? ".cpp" : ".h"), maker.SourceCode(size)};
    });

    // Thousands of small files, a few of them empty, like a program's settings and caches.
    const auto settings = tree.FolderTree("App Data", 40 + megabytes, 5);
    const std::size_t smallFiles = std::max<std::size_t>(1000, megabytes * 13);
    for (std::size_t i = 0; i < smallFiles; ++i) {
        const std::size_t size = random.Chance(3) ? 0 : random.Between(1, 4096);
        const std::size_t kind = random.Below(3);
        const std::string content = kind == 0 ? maker.Prose(size) : kind == 1 ? maker.Records(size) : maker.Noise(size);
        tree.File(settings[random.Below(settings.size())], kind == 0 ? ".ini" : ".dat", content);
    }

    // Empty folders, some nested in each other.
    tree.Folder("Empty Folder/Nothing here either");
    for (std::size_t i = 0; i < 10 + megabytes / 10; ++i) tree.SubFolder(settings, "App Data", 6);
    tree.Report();
}

void WriteManyFolders(const fs::path& root, std::size_t megabytes, std::uint64_t seed) {
    ContentMaker maker(seed);
    auto& random = maker.random();
    TreeWriter tree(root, maker);
    const std::size_t total = megabytes * kMB;
    const auto share = [total](double part) { return static_cast<std::size_t>(static_cast<double>(total) * part); };
    // Counts scale with the size, from their value at 300 MB.
    const auto scaled = [megabytes](std::size_t at300, std::size_t least) {
        return std::max(least, at300 * megabytes / 300);
    };

    // The folders: a few top ones, each a tree of sub-folders a few levels deep.
    const std::size_t folderCount = scaled(2800, 40);
    std::vector<std::string> folders;
    static const char* const kTops[] = {"Documents", "Pictures", "Music", "Projects", "School", "Work", "Backup", "Downloads"};
    for (const char* top : kTops) {
        const auto below = tree.FolderTree(top, folderCount / std::size(kTops), 5);
        folders.insert(folders.end(), below.begin(), below.end());
    }

    tree.Folder("Large");
    tree.Write("Large/laptop backup.img", maker.Mixed(share(0.20), 40));
    tree.Write("Large/holiday film.mov", maker.Mixed(share(0.15), 85));
    tree.Write("Large/virtual disk.vdi", maker.Mixed(share(0.10), 60));

    FillFolders(tree, maker, folders, share(0.20), 1'000, 40'000, [&](std::size_t size) {
        const std::size_t kind = random.Below(4);
        if (kind == 0) return std::pair{std::string(".log"), maker.LogLines(size)};
        if (kind == 1) return std::pair{std::string(random.Chance(70) ? ".cpp" : ".h"), maker.SourceCode(size)};
        return std::pair{std::string(random.Chance(50) ? ".txt" : ".md"), maker.Prose(size)};
    });
    FillFolders(tree, maker, folders, share(0.133), 20'000, 1'500'000, [&](std::size_t size) {
        static const char* const kExtensions[] = {".gz", ".zip", ".docx", ".pdf"};
        return std::pair{std::string(kExtensions[random.Below(4)]), maker.Compressed(size)};
    });
    FillFolders(tree, maker, folders, share(0.16), 200'000, 6'000'000, [&](std::size_t size) {
        return std::pair{std::string(random.Chance(70) ? ".jpg" : ".mp3"), maker.Noise(size)};
    });

    // Small files, a few of them empty: settings, caches, thumbnails.
    const std::size_t smallFiles = scaled(8000, 100);
    for (std::size_t i = 0; i < smallFiles; ++i) {
        const std::size_t size = random.Chance(3) ? 0 : random.Between(1, 4096);
        const std::size_t kind = random.Below(3);
        const std::string content = kind == 0 ? maker.Prose(size) : kind == 1 ? maker.Records(size) : maker.Noise(size);
        tree.File(folders[random.Below(folders.size())], kind == 0 ? ".ini" : ".dat", content);
    }
    tree.Report();
}

void WriteFolders(const fs::path& root, std::size_t count) {
    fs::path group;
    for (std::size_t i = 0; i < count; ++i) {
        char name[32];
        if (i % 100 == 0) {
            std::snprintf(name, sizeof name, "group %03zu", i / 100 + 1);
            group = root / name;
            fs::create_directories(group);
        }
        std::snprintf(name, sizeof name, "item %02zu", i % 100);
        const fs::path folder = i % 100 == 0 ? group : group / name;
        fs::create_directories(folder);
        std::FILE* file = std::fopen((folder / "note.txt").c_str(), "wb");
        if (!file || std::fprintf(file, "folder %zu\n", i + 1) < 0 || std::fclose(file) != 0)
            throw std::runtime_error("cannot write in " + folder.string());
    }
    std::printf("%s: %zu folders with one file each\n", root.c_str(), count);
}

int Usage() {
    std::fputs("usage: make-corpus stick DIR MEGABYTES [SEED]\n       make-corpus many-folders DIR MEGABYTES [SEED]\n"
               "       make-corpus folders DIR COUNT\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return Usage();
    const std::string mode = argv[1];
    const fs::path root = argv[2];
    const std::size_t number = std::strtoull(argv[3], nullptr, 10);
    if (number == 0) return Usage();
    if (fs::exists(root) && !fs::is_empty(root)) {
        std::fprintf(stderr, "make-corpus: %s is not empty\n", root.c_str());
        return 1;
    }
    try {
        const std::uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1;
        if (mode == "stick") WriteStick(root, number, seed);
        else if (mode == "many-folders") WriteManyFolders(root, number, seed);
        else if (mode == "folders") WriteFolders(root, number);
        else return Usage();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
