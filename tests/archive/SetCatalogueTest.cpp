// The catalogue of a backup set reads back as written, and a damaged, foreign or newer one is
// refused with its reason; one that a later version extended still reads.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "archive/LittleEndian.h"
#include "archive/SetCatalogueReader.h"
#include "archive/SetCatalogueWriter.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

Digest128 DigestOf(const std::string& bytes) {
    ContentHash hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Digest();
}

struct Collected final : CatalogueVisitor {
    std::vector<CatalogueBackup> backups;
    std::vector<CatalogueStream> streams;
    std::vector<std::vector<CatalogueFile>> files;  // per stream

    void OnBackup(const CatalogueBackup& backup) override { backups.push_back(backup); }
    void OnStream(const CatalogueStream& stream) override {
        streams.push_back(stream);
        files.emplace_back();
    }
    void OnFile(const CatalogueFile& file) override { files.back().push_back(file); }
};

Status Read(const std::string& bytes, Collected& collected) {
    test::ScratchFolder dir;
    std::unique_ptr<File> in;
    Status s = DefaultFileSystem().OpenRead(dir.WriteFile("DATA 0812251430.catalog", bytes), in);
    if (!s.ok()) return s;
    return ReadSetCatalogue(*in, collected);
}

const std::vector<CatalogueFile> kRootFiles = {
    {"a.txt", 27, 5000, 1199145600, 1199145601, DigestOf("a")},
    {"empty", 5100, 0, -5, 0, DigestOf("")},
};
const std::vector<CatalogueFile> kSecretFiles = {{"Pl\xc3\xa4ne.doc", 31, 123456789012, 7, 8, DigestOf("p")}};
const CatalogueStream kRoot{"DATA 0812251430 0.cvn", 0, 1, "\\", false, 5400, DigestOf("s0")};
const CatalogueStream kSecret{"DATA 0812251430 1.cvn", 1, 2, "\\Private", true, 9000000, DigestOf("s1")};

std::string TwoDiscs() {
    SetCatalogueWriter writer("DATA 0812251430", 1229956200);
    writer.AddStream(kRoot, kRootFiles);
    writer.AddStream(kSecret, kSecretFiles);
    return writer.Bytes(2);
}

void ExpectSame(const CatalogueStream& a, const CatalogueStream& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.sequence, b.sequence);
    EXPECT_EQ(a.disc, b.disc);
    EXPECT_EQ(a.folderPath, b.folderPath);
    EXPECT_EQ(a.isProtected, b.isProtected);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.checksum, b.checksum);
}

void ExpectSame(const std::vector<CatalogueFile>& a, const std::vector<CatalogueFile>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].name, b[i].name);
        EXPECT_EQ(a[i].recordOffset, b[i].recordOffset);
        EXPECT_EQ(a[i].size, b[i].size);
        EXPECT_EQ(a[i].created, b[i].created);
        EXPECT_EQ(a[i].modified, b[i].modified);
        EXPECT_EQ(a[i].checksum, b[i].checksum);
    }
}

TEST(SetCatalogue, ReadsBackWhatWasWritten) {
    Collected back;
    ASSERT_TRUE(Read(TwoDiscs(), back).ok());
    ASSERT_EQ(back.backups.size(), 1u);
    EXPECT_EQ(back.backups[0].name, "DATA 0812251430");
    EXPECT_EQ(back.backups[0].time, 1229956200);
    EXPECT_EQ(back.backups[0].discs, 2u);
    ASSERT_EQ(back.streams.size(), 2u);
    ExpectSame(back.streams[0], kRoot);
    ExpectSame(back.streams[1], kSecret);
    ExpectSame(back.files[0], kRootFiles);
    ExpectSame(back.files[1], kSecretFiles);
}

TEST(SetCatalogue, SizeWithIsTheSizeOfTheFile) {
    SetCatalogueWriter writer("Stick \xc3\x9c 0812251430", 0);
    const std::uint64_t predicted = writer.SizeWith(kRoot, kRootFiles);
    writer.AddStream(kRoot, kRootFiles);
    EXPECT_EQ(writer.Bytes(7).size(), predicted);
    const std::uint64_t expected = writer.SizeWith(kSecret, {});
    writer.AddStream(kSecret, {});
    EXPECT_EQ(writer.Bytes(1).size(), expected);
    EXPECT_EQ(writer.Bytes(4000000000u).size(), expected) << "disc numbers take no more room";
}

// How many files this process holds open in folder (an unnamed one shows as "folder/#n (deleted)").
int OpenFilesIn(const std::string& folder) {
    int open = 0;
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (!error && target.starts_with(folder + "/")) ++open;
    }
    return open;
}

// Records kept in an unnamed file of the staging folder make the same catalogue as records
// kept in memory, past the size of a block, and leave nothing in the folder; a folder that
// cannot hold such a file keeps them in memory.
TEST(SetCatalogue, RecordsKeptInAFileMakeTheSameCatalogue) {
    test::ScratchFolder folder;
    for (const std::string& spillFolder : {folder.path(), folder.path() + "/missing"}) {
        SCOPED_TRACE(spillFolder);
        SetCatalogueWriter writer("DATA 0812251430", 1229956200, spillFolder);
        EXPECT_EQ(OpenFilesIn(folder.path()), spillFolder == folder.path() ? 1 : 0) << "where the records wait";
        SetCatalogueWriter reference("DATA 0812251430", 1229956200);
        for (int i = 0; i < 12000; ++i) {
            writer.AddStream(i % 2 ? kRoot : kSecret, i % 2 ? kRootFiles : kSecretFiles);
            reference.AddStream(i % 2 ? kRoot : kSecret, i % 2 ? kRootFiles : kSecretFiles);
        }
        const std::string bytes = writer.Bytes(3);
        EXPECT_GT(bytes.size(), 1u << 20) << "more than a block";
        EXPECT_EQ(bytes, reference.Bytes(3));
        EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
    }
}

// The catalogue without its closing record and checksum, and a way to close it again as a
// writer would.
constexpr std::size_t kEndRecord = 5 + 8 + 16;
// Where the backup's record ends (its flags last) and the first stream's begins.
const std::size_t kBackupEnd = 12 + 5 + 8 + 4 + 2 + std::string("DATA 0812251430").size() + 1;
std::string Close(std::string body, std::uint64_t records) {
    body.push_back('E');
    unsigned char number[8];
    PutU32(number, 24);
    body.append(reinterpret_cast<char*>(number), 4);
    PutLittleEndian(number, records);
    body.append(reinterpret_cast<char*>(number), 8);
    const Digest128 digest = DigestOf(body);
    return body.append(reinterpret_cast<const char*>(digest.data()), digest.size());
}

TEST(SetCatalogue, ALaterVersionsAdditionsAreSkipped) {
    std::string good = TwoDiscs();
    std::string body = good.substr(0, good.size() - kEndRecord);
    // A new kind of record after the backup's, and a field appended to the first stream's.
    std::string extended = body.substr(0, kBackupEnd) + std::string("X\x03\0\0\0abc", 8);
    std::string stream = body.substr(kBackupEnd);
    const std::uint32_t length = GetU32(reinterpret_cast<const unsigned char*>(stream.data()) + 1);
    unsigned char longer[4];
    PutU32(longer, length + 2);
    stream.replace(1, 4, reinterpret_cast<char*>(longer), 4);
    stream.insert(5 + length, "yz");
    extended += stream;

    Collected back;
    Status s = Read(Close(extended, 7), back);
    ASSERT_TRUE(s.ok()) << s.message();
    ASSERT_EQ(back.streams.size(), 2u);
    ExpectSame(back.streams[0], kRoot);
    ExpectSame(back.files[0], kRootFiles);
    ExpectSame(back.files[1], kSecretFiles);
}

// Every disc but the last says more discs follow; a catalogue of an earlier version, whose
// backup record ends at the name, reads as one of the last disc.
TEST(SetCatalogue, WhetherMoreDiscsFollowReadsBack) {
    SetCatalogueWriter writer("DATA 0812251430", 1229956200);
    writer.AddStream(kRoot, kRootFiles);
    const std::string last = writer.Bytes(1);
    std::string earlier = last.substr(0, last.size() - kEndRecord);
    earlier.erase(kBackupEnd - 1, 1);  // the flags
    earlier[13] = static_cast<char>(earlier[13] - 1);  // the backup record's payload length
    const std::vector<std::pair<std::string, bool>> cases = {
        {writer.Bytes(1, true), true}, {last, false}, {Close(earlier, 4), false}};
    for (const auto& [bytes, more] : cases) {
        Collected back;
        Status s = Read(bytes, back);
        ASSERT_TRUE(s.ok()) << s.message();
        ASSERT_EQ(back.backups.size(), 1u);
        EXPECT_EQ(back.backups[0].moreDiscsFollow, more);
        EXPECT_EQ(back.backups[0].discs, 1u);
        EXPECT_EQ(back.backups[0].name, "DATA 0812251430");
    }
}

// The catalogue with its disc count replaced, closed again as a writer would.
std::string WithDiscCount(const std::string& good, std::uint32_t discs) {
    std::string body = good.substr(0, good.size() - kEndRecord);
    unsigned char count[4];
    PutU32(count, discs);
    body.replace(12 + 5 + 8, 4, reinterpret_cast<char*>(count), 4);
    return Close(body, 6);
}

struct Damage {
    const char* what;
    std::function<std::string(std::string)> make;
    Status::Code code;
    const char* reason;
};

TEST(SetCatalogue, DamagedForeignAndNewerOnesAreRefusedWithTheirReason) {
    const std::string good = TwoDiscs();
    const std::size_t nameAt = good.find("Private");
    const std::vector<Damage> damages = {
        {"a flipped byte in a folder path", [&](std::string b) { b[nameAt] ^= 0x20; return b; },
         Status::Code::Corrupt, "its checksum does not match"},
        {"a flipped byte in the checksum", [](std::string b) { b.back() ^= 1; return b; },
         Status::Code::Corrupt, "its checksum does not match"},
        {"the last byte cut off", [](std::string b) { b.pop_back(); return b; },
         Status::Code::Corrupt, "record 7 is cut short"},
        {"the closing record cut off", [](std::string b) { return b.substr(0, b.size() - kEndRecord); },
         Status::Code::Corrupt, "ends before its closing record"},
        {"cut in the middle of a record", [&](std::string b) { return b.substr(0, nameAt); },
         Status::Code::Corrupt, "is cut short"},
        {"bytes after the end", [](std::string b) { return b + "x"; },
         Status::Code::Corrupt, "bytes follow its closing record"},
        {"an impossible record length", [](std::string b) { return b.replace(12 + 4, 1, "\x7f"); },
         Status::Code::Corrupt, "record 1 is too long"},
        {"a closed catalogue missing its backup record",
         [](std::string) { return Close("CVNCATLG" + std::string("\1\0\0\0", 4), 0); },
         Status::Code::Corrupt, "does not start with the backup's record"},
        {"a file before any stream",
         [](std::string b) { return Close(b.substr(0, kBackupEnd) + std::string("F\0\0\0\0", 5), 2); },
         Status::Code::Corrupt, "record 2 (a file) comes before any stream"},
        {"a wrong count of records",
         [&](std::string b) { return Close(b.substr(0, b.size() - kEndRecord), 5); },
         Status::Code::Corrupt, "its count of records does not match"},
        {"a made-up count of discs", [](std::string b) { return WithDiscCount(b, 4294967295u); },
         Status::Code::Corrupt, "it claims 4294967295 discs for 2 streams"},
        {"no disc", [](std::string b) { return WithDiscCount(b, 0); }, Status::Code::Corrupt,
         "it claims 0 discs for 2 streams"},
        {"a stream file", [](std::string) { return std::string("\1\0\0\0\\" + std::string(16, ' ')); },
         Status::Code::InvalidArgument, "not a catalogue"},
        {"an empty file", [](std::string) { return std::string(); },
         Status::Code::InvalidArgument, "not a catalogue"},
        {"a newer format", [](std::string b) { b[8] = 2; return b; },
         Status::Code::NotImplemented, "newer version"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        Collected back;
        Status s = Read(damage.make(good), back);
        EXPECT_EQ(s.code(), damage.code) << s.message();
        EXPECT_NE(s.message().find(damage.reason), std::string::npos) << s.message();
    }
}

TEST(SetCatalogue, EveryCutIsRefused) {
    const std::string good = TwoDiscs();
    for (std::size_t size = 0; size < good.size(); ++size) {
        Collected back;
        EXPECT_FALSE(Read(good.substr(0, size), back).ok()) << size << " bytes";
    }
}

}  // namespace
}  // namespace corvane
