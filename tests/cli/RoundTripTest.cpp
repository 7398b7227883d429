// A randomly generated (but seeded, so repeatable) tree goes through the real program: backed
// up onto image discs small enough to need several, restored from the images, and compared
// file by file, byte for byte, with last-write times, and folder by folder.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "support/ProgramPayload.h"
#include "support/RunningProgram.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::RunningProgram;
using test::ScratchFolder;

constexpr std::size_t kMiB = 1 << 20;
constexpr int kDepth = 12;
constexpr int kRandomFolders = 50;
constexpr int kRandomFiles = 400;

struct Tree {
    std::set<std::string> folders;              // relative paths, empty ones included
    std::map<std::string, std::string> files;   // relative path -> content
    std::map<std::string, std::int64_t> times;  // relative path -> last write, in seconds
};

class TreeMaker {
public:
    explicit TreeMaker(std::uint32_t seed) : random_(seed) {}

    Tree Make() {
        std::vector<std::string> folders = {""};
        std::string chain;
        for (int level = 1; level <= kDepth; ++level) {
            chain += (chain.empty() ? "" : "/") + std::string("Niveau ") + std::to_string(level) + " é";
            folders.push_back(chain);
            AddFile(chain + "/à ce niveau.txt", Pick(20000));
        }
        for (int i = 0; i < kRandomFolders; ++i) folders.push_back(Below(folders[Pick(folders.size())]));
        for (const char* empty : {"Vide", "Ordner ohne Dateien", "Ordner ohne Dateien/leer"}) folders.push_back(empty);

        // The sizes around one chunk, empty files, and a few files of several MiB, each in a
        // folder of its own so that every folder's stream fits a disc.
        for (std::size_t size : {4095u, 4096u, 4097u, 0u, 0u, 8192u}) AddFile(Below("Grenzfälle") + "/" + Name(), size);
        for (std::size_t size : {3 * kMiB + 1, 2 * kMiB, 5 * kMiB / 2}) AddFile(Below("Gros fichiers") + "/" + Name(), size);
        for (int i = 0; i < kRandomFiles; ++i) {
            const std::string& folder = folders[Pick(folders.size() - 3)];  // the empty ones stay empty
            AddFile((folder.empty() ? "" : folder + "/") + Name(), Pick(6) == 0 ? 0 : Pick(40000));
        }
        for (fs::path folder : folders)
            for (; !folder.empty(); folder = folder.parent_path()) tree_.folders.insert(folder.string());
        for (const auto& [path, content] : tree_.files)
            for (fs::path folder = fs::path(path).parent_path(); !folder.empty(); folder = folder.parent_path())
                tree_.folders.insert(folder.string());
        return tree_;
    }

private:
    std::size_t Pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

    std::string Name() {
        static const char* const kParts[] = {"rapport", "Übung", "café", "naïve", "smørbrød", "año", "Ωmega",
                                             "日記", "notes", "photo", "2008", "été", "x"};
        static const char* const kExtensions[] = {".txt", ".doc", ".bin", ".jpg", ""};
        std::string name = kParts[Pick(std::size(kParts))];
        for (std::size_t more = Pick(3); more > 0; --more) name += std::string(Pick(2) ? " " : "-") + kParts[Pick(std::size(kParts))];
        return name + " " + std::to_string(counter_++) + kExtensions[Pick(std::size(kExtensions))];
    }

    std::string Below(const std::string& parent) {
        return (parent.empty() ? "" : parent + "/") + Name();
    }

    // Half the files are noise that does not compress, half text that does.
    void AddFile(const std::string& path, std::size_t size) {
        std::string content(size, '\0');
        if (Pick(2)) {
            for (auto& byte : content) byte = static_cast<char>(random_());
        } else {
            static const char* const kWords[] = {"disc ", "backup ", "stream ", "Sicherung ", "données "};
            content.clear();
            while (content.size() < size) content += kWords[Pick(std::size(kWords))];
            content.resize(size);
        }
        tree_.files[path] = content;
        // Whole seconds between 1980 and 2033: what the stream keeps.
        tree_.times[path] = 315532800 + static_cast<std::int64_t>(Pick(1684467200));
    }

    std::mt19937 random_;
    Tree tree_;
    int counter_ = 0;
};

std::int64_t ModifiedSeconds(const fs::path& path) {
    // The file clock's epoch is not the Unix epoch.
    auto system = std::chrono::file_clock::to_sys(fs::last_write_time(path));
    return std::chrono::floor<std::chrono::seconds>(system.time_since_epoch()).count();
}

void Write(const Tree& tree, const ScratchFolder& where) {
    for (const auto& folder : tree.folders) where.MakeFolder(folder);
    for (const auto& [path, content] : tree.files) {
        where.WriteFile(path, content);
        auto at = std::chrono::system_clock::time_point(std::chrono::seconds(tree.times.at(path)));
        fs::last_write_time(where / path, std::chrono::file_clock::from_sys(at));
    }
}

Tree Read(const std::string& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            tree.folders.insert(path);
        } else {
            tree.files[path] = test::ReadWholeFile(entry.path());
            tree.times[path] = ModifiedSeconds(entry.path());
        }
    }
    return tree;
}

TEST(RoundTrip, SeededRandomTreeComesBackFromSeveralImageDiscsIdentical) {
    const Tree tree = TreeMaker(20081225).Make();
    ASSERT_GE(tree.files.size(), 400u);
    ScratchFolder source, discs, restored, tmp;
    Write(tree, source);

    // Each disc carries the programs besides its share of the backup.
    const std::string capacity = std::to_string(test::ProgramPayloadSize() + 4 * kMiB);
    RunningProgram backup({"backup", source.path(), "--images", discs.path(), "--capacity", capacity, "--yes"},
                          {tmp.path()});
    ASSERT_EQ(backup.Finish(), 0) << backup.output();
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(discs.path())) images.push_back(entry.path().string());
    ASSERT_GE(images.size(), 3u) << backup.output();

    std::vector<std::string> restore = {"restore"};
    restore.insert(restore.end(), images.begin(), images.end());
    restore.insert(restore.end(), {"--to", restored.path()});
    RunningProgram run(restore, {tmp.path()});
    ASSERT_EQ(run.Finish(), 0) << run.output();
    EXPECT_TRUE(fs::is_empty(tmp.path())) << "temporary files are gone";

    const Tree back = Read(restored.path());
    EXPECT_EQ(back.folders, tree.folders);
    EXPECT_EQ(back.times, tree.times);
    ASSERT_EQ(back.files.size(), tree.files.size());
    for (const auto& [path, content] : tree.files) {
        auto found = back.files.find(path);
        ASSERT_NE(found, back.files.end()) << path;
        EXPECT_TRUE(found->second == content) << path << ": " << found->second.size() << " of " << content.size() << " bytes";
    }
}

}  // namespace
}  // namespace corvane
