// Encrypted backups through the real program: a tree backed up with --encrypt onto three image
// discs comes back whole with the password, shows nothing but "<protected>" and restores
// nothing without it, and leaves no name or content readable on the discs, where the
// password-guarded backup of the same tree shows them all.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "archive/BlockCodec.h"
#include "support/ProgramPayload.h"
#include "support/RunningProgram.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::RunningProgram;
using test::ScratchFolder;

constexpr std::size_t kBigFile = 700 * 1024;  // three of them, one per folder, fill three discs
const char* const kFolders[] = {"Quarterly Zebra Ledgers", "Quarterly Zebra Ledgers/Nested Walrus Notes",
                                "Heron Archive One", "Heron Archive Two", "Heron Archive Three", "Empty Ibis"};
// Short texts that compress to a chunk of their own, and names nobody else uses.
const std::map<std::string, std::string> kTexts = {
    {"Quarterly Zebra Ledgers/salary of marmots.txt", "Salaries: marmot gamma 41200, marmot delta 39900.\n"},
    {"Quarterly Zebra Ledgers/Nested Walrus Notes/diary of a walrus.txt",
     "Dear diary, the walrus counted forty-two oysters today and said nothing.\n"},
    {"top secret pelican.txt", "The pelican code word is TANGERINE-ORBIT-SEVEN.\n"},
};

// Bytes that do not compress: zlib stores them as they are, so a guarded backup shows them.
std::string Noise(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

struct Source {
    ScratchFolder scratch;
    std::string root = scratch.MakeFolder("STICK");
    std::map<std::string, std::string> files;

    Source() {
        for (const char* folder : kFolders) scratch.MakeFolder(std::string("STICK/") + folder);
        files = kTexts;
        files["Heron Archive One/large heron one.bin"] = Noise(kBigFile, 1);
        files["Heron Archive Two/large heron two.bin"] = Noise(kBigFile, 2);
        files["Heron Archive Three/large heron three.bin"] = Noise(kBigFile, 3);
        files["empty crane.txt"] = "";
        for (const auto& [path, content] : files) scratch.WriteFile("STICK/" + path, content);
    }
};

// The images of one backup of the source, with or without --encrypt.
struct Backup {
    ScratchFolder discs, tmp;
    std::vector<std::string> images;
    std::string output;

    Backup(const Source& source, const std::string& passwordFile, bool encrypt) {
        const std::string capacity = std::to_string(test::ProgramPayloadSize() + kBigFile + 256 * 1024);
        std::vector<std::string> args = {"backup", source.root, "--images", discs.path(), "--capacity", capacity,
                                         "--password-file", passwordFile, "--yes"};
        if (encrypt) args.push_back("--encrypt");
        RunningProgram backup(args, {tmp.path()});
        EXPECT_EQ(backup.Finish(), 0) << backup.output();
        output = backup.output();
        for (const auto& entry : fs::directory_iterator(discs.path())) images.push_back(entry.path().string());
        std::sort(images.begin(), images.end());
    }

    // Runs a command on every image of the backup.
    int Run(std::vector<std::string> args, std::string& out, const std::vector<std::string>& more = {}) {
        args.insert(args.begin() + 1, images.begin(), images.end());
        args.insert(args.end(), more.begin(), more.end());
        RunningProgram program(args, {tmp.path()});
        const int status = program.Finish();
        out = program.output();
        return status;
    }
};

// What someone holding the discs could search them for: every name, each text as its compressed
// chunk (all but the chunk's first byte, which the scrambler moves), and pieces of the files
// that do not compress, as they are.
std::map<std::string, std::string> SecretsOf(const Source& source) {
    std::map<std::string, std::string> secrets;
    for (const auto& [path, content] : source.files) {
        for (fs::path part = path; !part.empty(); part = part.parent_path())
            secrets["name " + part.filename().string()] = part.filename().string();
    }
    for (const auto& [path, content] : source.files)
        if (content.size() == kBigFile) secrets["plain piece of " + path] = content.substr(123456, 48);
    for (const auto& [path, text] : kTexts) {
        std::uint8_t chunk[kEncodeCapacity];
        int length = 0;
        EXPECT_TRUE(EncodeChunk(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()), chunk,
                                length)
                        .ok());
        secrets["compressed text of " + path] = std::string(reinterpret_cast<char*>(chunk) + 1, static_cast<std::size_t>(length - 1));
    }
    return secrets;
}

// The secrets found in any image of the backup.
std::vector<std::string> Found(const Backup& backup, const std::map<std::string, std::string>& secrets) {
    std::vector<std::string> found;
    std::string all;
    for (const auto& image : backup.images) all += test::ReadWholeFile(image);
    for (const auto& [what, bytes] : secrets)
        if (all.find(bytes) != std::string::npos) found.push_back(what);
    return found;
}

class EncryptedBackup : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        source_ = std::make_unique<Source>();
        good_ = source_->scratch.WriteFile("password", "Otter+Lantern9\n");
        wrong_ = source_->scratch.WriteFile("wrong", "Otter+Lantern8\n");
        sealed_ = std::make_unique<Backup>(*source_, good_, true);
        guarded_ = std::make_unique<Backup>(*source_, good_, false);
    }
    static void TearDownTestSuite() {
        guarded_.reset();
        sealed_.reset();
        source_.reset();
    }

    static std::unique_ptr<Source> source_;
    static std::string good_, wrong_;
    static std::unique_ptr<Backup> sealed_, guarded_;
};
std::unique_ptr<Source> EncryptedBackup::source_;
std::string EncryptedBackup::good_, EncryptedBackup::wrong_;
std::unique_ptr<Backup> EncryptedBackup::sealed_, EncryptedBackup::guarded_;

TEST_F(EncryptedBackup, ComesBackWholeFromThreeImagesWithThePassword) {
    ASSERT_EQ(sealed_->images.size(), 3u) << sealed_->output;
    ScratchFolder restored;
    std::string out;
    ASSERT_EQ(sealed_->Run({"restore"}, out, {"--to", restored.path(), "--password-file", good_}), 0) << out;
    std::map<std::string, std::string> back;
    std::vector<std::string> folders;
    for (const auto& entry : fs::recursive_directory_iterator(restored.path())) {
        const std::string path = fs::relative(entry.path(), restored.path()).string();
        if (entry.is_directory())
            folders.push_back(path);
        else
            back[path] = test::ReadWholeFile(entry.path());
    }
    EXPECT_EQ(back, source_->files);
    EXPECT_EQ(folders.size(), std::size(kFolders));

    ASSERT_EQ(sealed_->Run({"list"}, out, {"--password-file", good_}), 0) << out;
    EXPECT_NE(out.find("      diary of a walrus.txt"), std::string::npos) << out;
    EXPECT_EQ(out.find("<protected>"), std::string::npos) << out;
}

TEST_F(EncryptedBackup, WithoutTheRightPasswordShowsOnlyProtectedFoldersAndRestoresNothing) {
    for (const std::vector<std::string>& password : {std::vector<std::string>{}, {"--password-file", wrong_}}) {
        std::string out;
        sealed_->Run({"list"}, out, password);
        // The drive and backup lines, then one "<protected>" line per folder: nothing else.
        std::vector<std::string> lines;
        for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) lines.push_back(out.substr(at, end - at));
        std::size_t protectedLines = 0;
        for (const auto& line : lines) {
            if (line == "    <protected>") ++protectedLines;
            else EXPECT_TRUE(line == "STICK" || line.starts_with("  ") || line.starts_with("corvane list: Invalid Password"))
                     << line;
        }
        EXPECT_EQ(protectedLines, std::size(kFolders) + 1) << out;  // and the root

        ScratchFolder restored;
        const std::string to = restored / "into";
        EXPECT_EQ(sealed_->Run({"restore"}, out, {"--to", to}), 1) << out;
        EXPECT_FALSE(fs::exists(to) && !fs::is_empty(to)) << out;
        // A file asked for by name may lie in any encrypted folder: that is what is said.
        EXPECT_EQ(sealed_->Run({"restore"}, out, {"--to", to, "--only", "top secret pelican.txt"}), 1) << out;
        EXPECT_NE(out.find("top secret pelican.txt was not found in the folders that could be opened; 7 protected folders "
                           "were left out (no --password-file)"),
                  std::string::npos)
            << out;
        if (!password.empty()) {
            EXPECT_EQ(sealed_->Run({"restore"}, out, {"--to", to, "--password-file", wrong_}), 1) << out;
            EXPECT_NE(out.find("Invalid Password"), std::string::npos) << out;
            EXPECT_FALSE(fs::exists(to) && !fs::is_empty(to)) << out;
        }
    }
}

TEST_F(EncryptedBackup, LeavesNoNameAndNoContentReadableOnTheDiscs) {
    const auto secrets = SecretsOf(*source_);
    std::vector<std::string> all;
    for (const auto& [what, bytes] : secrets) all.push_back(what);
    EXPECT_EQ(Found(*guarded_, secrets), all) << "the search finds everything in a backup that is only guarded";
    EXPECT_EQ(Found(*sealed_, secrets), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane
