// A backup made by the real program over three image discs verifies as good; each kind of
// damage done to its images afterwards is found by corvane verify, named, and fails it.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "archive/SetCatalogueWriter.h"
#include "archive/StreamFormat.h"
#include "disc/ImageFileSystem.h"
#include "support/ProgramPayload.h"
#include "support/RunningProgram.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::RunningProgram;
using test::ScratchFolder;

constexpr char kDamagedFile[] = "photo.bin";

// The three discs of one backup, made once for every case.
class VerifyDamageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        source_ = new ScratchFolder;
        discs_ = new ScratchFolder;
        for (const char* folder : {"Alpha", "Beta", "Gamma"}) {
            source_->WriteFile(std::string(folder) + "/" + kDamagedFile, test::SampleBytes(200000, folder[0]));
            source_->WriteFile(std::string(folder) + "/notes.txt", std::string(30000, folder[0]));
        }
        const std::string capacity = std::to_string(test::ProgramPayloadSize() + 250 * 1024);
        ScratchFolder tmp;
        RunningProgram backup({"backup", source_->path(), "--images", discs_->path(), "--capacity", capacity, "--yes"},
                              {tmp.path()});
        ASSERT_EQ(backup.Finish(), 0) << backup.output();
    }
    static void TearDownTestSuite() {
        delete source_;
        delete discs_;
    }

    void SetUp() override {
        for (const auto& entry : fs::directory_iterator(discs_->path()))
            fs::copy_file(entry.path(), copy_ / entry.path().filename().string());
        for (const auto& entry : fs::directory_iterator(copy_.path())) images_.push_back(entry.path().string());
        std::sort(images_.begin(), images_.end());
        ASSERT_EQ(images_.size(), 3u);
    }

    // The bytes of a file of an image, as our reader gives them.
    static std::string FileOfImage(const std::string& image, const std::string& name) {
        ImageFileSystem files(DefaultFileSystem());
        std::unique_ptr<File> in;
        EXPECT_TRUE(files.OpenRead(image + "/" + name, in).ok());
        std::string bytes(1 << 20, '\0');
        std::size_t got = 0;
        EXPECT_TRUE(in && in->ReadFull(bytes.data(), bytes.size(), got).ok());
        bytes.resize(got);
        return bytes;
    }

    // The one file of the image whose name ends in ending.
    static std::string NameInImage(const std::string& image, const std::string& ending) {
        ImageFileSystem files(DefaultFileSystem());
        std::vector<FolderEntry> entries;
        EXPECT_TRUE(files.ListFolder(image, entries).ok());
        for (const FolderEntry& entry : entries)
            if (entry.name.size() > ending.size() && entry.name.ends_with(ending)) return entry.name;
        ADD_FAILURE() << "no " << ending << " in " << image;
        return "";
    }

    // Changes the bytes of a file inside the image where they lie in the image file.
    static void ChangeInImage(const std::string& image, const std::string& name,
                              const std::function<void(std::string&)>& change) {
        const std::string original = FileOfImage(image, name);
        std::string raw = test::ReadWholeFile(image);
        const std::size_t at = raw.find(original);
        ASSERT_NE(at, std::string::npos);
        std::string changed = original;
        change(changed);
        ASSERT_EQ(changed.size(), original.size());
        raw.replace(at, original.size(), changed);
        std::ofstream(image, std::ios::binary | std::ios::trunc) << raw;
    }

    // Where the DataSize of the damaged file's record lies in the stream.
    static std::uint64_t RecordOffset(const std::string& stream) {
        ScratchFolder scratch;
        const std::string path = scratch.WriteFile("s.cvn", stream);
        std::unique_ptr<File> in;
        EXPECT_TRUE(DefaultFileSystem().OpenRead(path, in).ok());
        StreamReader reader(*in);
        FolderHeader header;
        EXPECT_TRUE(reader.ReadFolderHeader(header).ok());
        FileRecord record;
        for (bool found = true; reader.NextRecord(record, found).ok() && found;)
            if (record.fileName == kDamagedFile) return record.recordOffset;
        ADD_FAILURE() << "no " << kDamagedFile;
        return 0;
    }

    RunningProgram::Options Options() const { return {tmp_.path()}; }

    static ScratchFolder* source_;
    static ScratchFolder* discs_;
    ScratchFolder copy_, tmp_;
    std::vector<std::string> images_;
};

ScratchFolder* VerifyDamageTest::source_ = nullptr;
ScratchFolder* VerifyDamageTest::discs_ = nullptr;

TEST_F(VerifyDamageTest, UndamagedSetVerifiesAndItsTableSaysOk) {
    RunningProgram verify({"verify", copy_.path()}, Options());
    EXPECT_EQ(verify.Finish(), 0) << verify.output();
    for (const char* line : {"disc 1)", "disc 2)", "disc 3)", "3 discs, all given", "checked against its catalogue",
                             "image MD5 sum: matches"})
        EXPECT_NE(verify.output().find(line), std::string::npos) << line << "\n" << verify.output();
    EXPECT_EQ(verify.output().find("DAMAGED"), std::string::npos) << verify.output();
}

struct Damage {
    const char* what;
    // Damages the second disc's image (or the set); returns the names the table must show.
    std::function<std::vector<std::string>(const std::string& image, const std::string& stream)> apply;
};

TEST_F(VerifyDamageTest, EachDamageIsFoundNamedAndFails) {
    const std::vector<Damage> cases = {
        {"a flipped byte in a chunk",
         [](const std::string& image, const std::string& stream) {
             ChangeInImage(image, stream, [](std::string& bytes) {
                 const std::uint64_t chunk = RecordOffset(bytes) + 4 + 16;  // past DataSize and the times
                 bytes[chunk + 4 + 100] ^= 0x20;
             });
             return std::vector<std::string>{stream, kDamagedFile, "does not decode"};
         }},
        {"a flipped byte in the stream's header",
         [](const std::string& image, const std::string& stream) {
             ChangeInImage(image, stream, [](std::string& bytes) { bytes[5] ^= 0x01; });  // the folder's name
             return std::vector<std::string>{stream, "holds the folder"};
         }},
        {"a flipped byte in a record's DataSize",
         [](const std::string& image, const std::string& stream) {
             ChangeInImage(image, stream, [](std::string& bytes) { bytes[RecordOffset(bytes) + 2] ^= 0x10; });
             return std::vector<std::string>{stream, kDamagedFile, "cannot be read"};
         }},
        {"two chunks swapped within a file",
         [](const std::string& image, const std::string& stream) {
             ChangeInImage(image, stream, [](std::string& bytes) {
                 const std::uint64_t first = RecordOffset(bytes) + 4 + 16;
                 const std::uint32_t length1 = static_cast<unsigned char>(bytes[first]) |
                                               static_cast<unsigned char>(bytes[first + 1]) << 8;
                 const std::uint64_t second = first + 4 + length1;
                 const std::uint32_t length2 = static_cast<unsigned char>(bytes[second]) |
                                               static_cast<unsigned char>(bytes[second + 1]) << 8;
                 const std::string a = bytes.substr(first, 4 + length1), b = bytes.substr(second, 4 + length2);
                 bytes.replace(first, a.size() + b.size(), b + a);
             });
             return std::vector<std::string>{stream, kDamagedFile, "content does not match"};
         }},
        {"a flipped byte in the catalogue",
         [](const std::string& image, const std::string&) {
             const std::string catalogue = NameInImage(image, ".catalog");
             ChangeInImage(image, catalogue, [](std::string& bytes) { bytes[bytes.size() / 2] ^= 0x04; });
             return std::vector<std::string>{catalogue, "damaged", "against the catalogue of disc 3"};
         }},
        {"a flipped byte outside the backup's files, which only the image's MD5 sum covers",
         [](const std::string& image, const std::string&) {
             ChangeInImage(image, "autorun.inf", [](std::string& bytes) { bytes[3] ^= 0x01; });
             return std::vector<std::string>{"MD5 sum recorded for its session"};
         }},
        {"the image's record of its MD5 sums lost (the root's attribute renamed)",
         [](const std::string& image, const std::string&) {
             std::string raw = test::ReadWholeFile(image);
             const std::size_t at = raw.find(std::string("\x03\x04" "ca\0", 5));
             EXPECT_NE(at, std::string::npos);
             if (at != std::string::npos) raw[at + 3] = 'b';
             std::ofstream(image, std::ios::binary | std::ios::trunc) << raw;
             return std::vector<std::string>{"no MD5 sum is recorded for its session"};
         }},
        {"a truncated image",
         [](const std::string& image, const std::string&) {
             fs::resize_file(image, fs::file_size(image) * 2 / 3);
             return std::vector<std::string>{fs::path(image).filename().string() + "/", "ends early"};
         }},
        {"a missing disc",
         [](const std::string& image, const std::string&) {
             fs::remove(image);
             return std::vector<std::string>{"missing: disc 2"};
         }},
    };
    const std::string image = images_[1];
    const std::string stream = NameInImage(image, ".cvn");
    const std::string pristine = test::ReadWholeFile(image);
    for (const Damage& damage : cases) {
        SCOPED_TRACE(damage.what);
        std::ofstream(image, std::ios::binary | std::ios::trunc) << pristine;
        const std::vector<std::string> named = damage.apply(image, stream);
        RunningProgram verify({"verify", copy_.path()}, Options());
        EXPECT_EQ(verify.Finish(), 1) << verify.output();
        for (const std::string& name : named)
            EXPECT_NE(verify.output().find(name), std::string::npos) << name << "\n" << verify.output();
        EXPECT_NE(verify.output().find("Verification FAILED"), std::string::npos) << verify.output();
    }
}

// The set as the newest catalogue given knows it: disc 2's says a disc follows, so a missing
// last disc is named, and a last disc whose own catalogue is damaged is still disc 3 of it.
TEST_F(VerifyDamageTest, TheLastDiscIsCountedWithoutItsOwnCatalogue) {
    struct Case {
        const char* what;
        std::function<void()> apply;
        std::vector<std::string> said;
    };
    const std::string last = images_[2];
    const std::vector<Case> cases = {
        {"disc 3 missing", [&] { fs::remove(last); }, {"at least 3 discs, missing: disc 3"}},
        {"disc 3's catalogue damaged",
         [&] {
             const std::string catalogue = NameInImage(last, ".catalog");
             ChangeInImage(last, catalogue, [](std::string& bytes) { bytes[bytes.size() / 2] ^= 0x04; });
         },
         {"disc 3)\n  checked as disc 3, which the catalogue of disc 2 says follows",
          ".catalog  The catalogue is damaged", "at least 3 discs, all given"}},
    };
    const std::string pristine = test::ReadWholeFile(last);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(last, std::ios::binary | std::ios::trunc) << pristine;
        c.apply();
        RunningProgram verify({"verify", copy_.path()}, Options());
        EXPECT_EQ(verify.Finish(), 1) << verify.output();
        for (const std::string& line : c.said)
            EXPECT_NE(verify.output().find(line), std::string::npos) << line << "\n" << verify.output();
        EXPECT_EQ(verify.output().find("is not in the catalogue"), std::string::npos) << verify.output();
    }
}

// A catalogue whose checksum holds but whose disc count is made up (4294967295) is refused at
// once, in little memory, and a signal ends a long check with what it found.
TEST_F(VerifyDamageTest, AMadeUpDiscCountIsRefusedAndASignalEndsTheCheck) {
    ScratchFolder forged;
    SetCatalogueWriter writer("DATA 0812251430", 1229956200);
    writer.AddStream({"DATA 0812251430 0.cvn", 0, 1, "\\", false, 5, {}}, {});
    forged.WriteFile("DATA 0812251430.catalog", writer.Bytes(4294967295u));
    RunningProgram alone({"verify", forged.path()}, Options());
    EXPECT_EQ(alone.Finish(), 1) << alone.output();
    EXPECT_NE(alone.output().find("it claims 4294967295 discs for 1 streams"), std::string::npos) << alone.output();
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 1024 * 1024) << "KiB at most of any program this test ran";

    std::vector<std::string> args = {"verify", forged.path()};
    for (int round = 0; round < 300; ++round) args.insert(args.end(), images_.begin(), images_.end());
    RunningProgram busy(args, Options());
    for (int wait = 0; wait < 500 && !busy.Catches(SIGTERM); ++wait) ::usleep(10000);
    busy.Signal(SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    EXPECT_EQ(busy.Finish(), 1) << busy.output();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(10));
    EXPECT_NE(busy.output().find("corvane verify: cancelled"), std::string::npos) << busy.output();
}

// An encrypted backup: its chunks decode only with the password; without it, the check goes as
// far as the catalogue's stream checksums and says so. Damage is found either way.
TEST(VerifyEncrypted, ChunksDecodeWithThePasswordAndDamageIsFoundWithoutIt) {
    ScratchFolder source, discs, tmp, secrets;
    source.WriteFile("Secret/plan.txt", test::SampleBytes(20000, 3));
    const std::string password = secrets.WriteFile("password", "Kestrel7\n");
    const std::string wrongPassword = secrets.WriteFile("wrong", "Kestrel8\n");
    RunningProgram backup({"backup", source.path(), "--images", discs.path(), "--password-file", password, "--encrypt",
                           "--yes"},
                          {tmp.path()});
    ASSERT_EQ(backup.Finish(), 0) << backup.output();
    struct Case {
        const char* what;
        bool withPassword;
        bool damaged;
        int status;
        const char* said;
        bool wrongPassword = false;
    };
    const std::vector<Case> cases = {
        {"whole, no password", false, false, 0, "without its password only its checksum and header were checked"},
        {"whole, password", true, false, 0, "2 streams, 1 files"},
        {"damaged, no password", false, true, 1, "its bytes do not match the catalogue's checksum"},
        {"damaged, password", true, true, 1, "plan.txt  its chunk 5 cannot be read"},
        {"whole, wrong password", true, false, 1, "corvane verify: Invalid Password", true},
    };
    const std::string image = (*fs::directory_iterator(discs.path())).path().string();
    const std::string pristine = test::ReadWholeFile(image);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(image, std::ios::binary | std::ios::trunc) << pristine;
        std::string raw = pristine;
        if (c.damaged) {
            ImageFileSystem files(DefaultFileSystem());
            std::unique_ptr<File> in;
            std::vector<FolderEntry> entries;
            ASSERT_TRUE(files.ListFolder(image, entries).ok());
            std::string stream;
            for (const FolderEntry& entry : entries)
                if (entry.name.ends_with(" 1.cvn")) stream = entry.name;
            ASSERT_TRUE(files.OpenRead(image + "/" + stream, in).ok());
            std::string bytes(1 << 20, '\0');
            std::size_t got = 0;
            ASSERT_TRUE(in->ReadFull(bytes.data(), bytes.size(), got).ok());
            bytes.resize(got);
            const std::size_t at = raw.find(bytes);
            ASSERT_NE(at, std::string::npos);
            raw[at + got - 100] ^= 0x08;  // inside the last chunk's sealed bytes
        }
        std::ofstream(image, std::ios::binary | std::ios::trunc) << raw;
        std::vector<std::string> args = {"verify", discs.path()};
        if (c.withPassword) args.insert(args.end(), {"--password-file", c.wrongPassword ? wrongPassword : password});
        RunningProgram verify(args, {tmp.path()});
        EXPECT_EQ(verify.Finish(), c.status) << verify.output();
        EXPECT_NE(verify.output().find(c.said), std::string::npos) << verify.output();
    }
}

}  // namespace
}  // namespace corvane
