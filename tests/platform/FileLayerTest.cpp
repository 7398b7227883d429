#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/FileLayer.h"
#include "platform/PrivateTempFolder.h"
#include "support/FaultyFileSystem.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

TEST(FileLayer, WritesReadsSeeksAndTruncates) {
    test::ScratchFolder dir;
    auto& fs = DefaultFileSystem();
    std::unique_ptr<File> file;
    ASSERT_TRUE(fs.OpenWrite(dir / "f", file).ok());
    ASSERT_TRUE(file->Write("hello world", 11).ok());
    std::uint64_t pos = 0;
    ASSERT_TRUE(file->Seek(6, SeekFrom::Start, &pos).ok());
    EXPECT_EQ(pos, 6u);
    ASSERT_TRUE(file->Write("WORLD", 5).ok());
    ASSERT_TRUE(file->Truncate(8).ok());
    ASSERT_TRUE(file->Close().ok());

    ASSERT_TRUE(fs.OpenRead(dir / "f", file).ok());
    std::uint64_t length = 0;
    ASSERT_TRUE(file->Length(length).ok());
    EXPECT_EQ(length, 8u);
    char buffer[32];
    std::size_t got = 0;
    ASSERT_TRUE(file->ReadFull(buffer, sizeof buffer, got).ok());
    EXPECT_EQ(std::string(buffer, got), "hello WO");
    ASSERT_TRUE(file->Read(buffer, 4, got).ok());
    EXPECT_EQ(got, 0u) << "end of file reads 0 bytes";
}

TEST(FileLayer, ListsFoldersWithKindsAndTimes) {
    test::ScratchFolder dir;
    dir.WriteFile("a.txt", "12345");
    dir.MakeFolder("sub folder");
    ASSERT_EQ(::symlink((dir / "sub folder").c_str(), (dir / "loop").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "missing").c_str(), (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink("a.txt", (dir / "link.txt").c_str()), 0);
    auto& fs = DefaultFileSystem();
    ASSERT_TRUE(fs.SetModifiedTime(dir / "a.txt", 1199145600).ok());

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(fs.ListFolder(dir.path(), entries).ok());
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_TRUE(entries[0].info.isFile());
    EXPECT_EQ(entries[0].info.size, 5u);
    EXPECT_EQ(entries[0].info.modified, 1199145600);
    EXPECT_EQ(entries[1].info.kind, FileInfo::Kind::Other) << "dangling link";
    EXPECT_TRUE(entries[2].info.isFile()) << "a link to a file is followed";
    EXPECT_EQ(entries[2].info.size, 5u);
    EXPECT_EQ(entries[2].info.modified, 1199145600);
    EXPECT_EQ(entries[3].info.kind, FileInfo::Kind::Other) << "link to a folder is not followed";
    EXPECT_TRUE(entries[4].info.isFolder());

    FileInfo info;
    EXPECT_EQ(fs.Stat(dir / "missing", info).code(), Status::Code::NotFound);
    ASSERT_TRUE(fs.Stat(dir / "link.txt", info).ok());
    EXPECT_EQ(info.size, 5u);
}

TEST(FileLayer, ErrorsCarryCodes) {
    test::ScratchFolder dir;
    auto& fs = DefaultFileSystem();
    std::unique_ptr<File> file;
    EXPECT_EQ(fs.OpenRead(dir / "missing", file).code(), Status::Code::NotFound);
    EXPECT_EQ(fs.OpenRead(dir.path(), file).code(), Status::Code::InvalidArgument);
    EXPECT_EQ(fs.OpenWrite(dir / "no/such/folder/f", file).code(), Status::Code::NotFound);
    std::vector<FolderEntry> entries;
    EXPECT_FALSE(fs.ListFolder(dir / "missing", entries).ok());
    ASSERT_TRUE(fs.CreateFolder(dir / "made").ok());
    EXPECT_EQ(fs.CreateFolder(dir / "made").code(), Status::Code::AlreadyExists);
    dir.WriteFile("plain", "x");
    EXPECT_FALSE(fs.CreateFolder(dir / "plain").ok());
    EXPECT_NE(fs.CreateFolder(dir / "plain").code(), Status::Code::AlreadyExists);
    EXPECT_EQ(fs.RemoveFile(dir / "missing").code(), Status::Code::NotFound);
}

// On a file system that keeps case, names that differ in case are two entries even when
// alike in everything Stat tells (made in one clock tick, same size, same times); a hard
// link is one entry under two names, also below folders spelled alike.
TEST(FileLayer, SameEntryTellsEntriesApartByWhatTheFileSystemHolds) {
    test::ScratchFolder dir;
    auto& fs = DefaultFileSystem();
    dir.WriteFile("Sub/a.txt", "same");
    dir.WriteFile("SUB/a.txt", "same");
    dir.WriteFile("Sub/A.TXT", "same");
    for (const char* name : {"Sub/a.txt", "SUB/a.txt", "Sub/A.TXT"})
        ASSERT_TRUE(fs.SetModifiedTime(dir / name, 1199145600).ok());
    ASSERT_EQ(::link((dir / "Sub/a.txt").c_str(), (dir / "Sub/link.txt").c_str()), 0);
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"Sub/a.txt", "Sub/a.txt", true},  {"Sub/a.txt", "Sub/link.txt", true}, {"Sub/a.txt", "Sub/A.TXT", false},
        {"Sub/a.txt", "SUB/a.txt", false}, {"Sub", "SUB", false},                {"Sub/a.txt", "Sub/none", false},
    };
    for (const auto& c : cases) EXPECT_EQ(fs.SameEntry(dir / c.a, dir / c.b), c.same) << c.a << " " << c.b;
}

TEST(FaultyFileSystem, FailsReadsAndWritesWhereAsked) {
    test::ScratchFolder dir;
    dir.WriteFile("src.bin", std::string(10000, 'x'));
    test::FaultyFileSystem fs;
    fs.Add({test::Fault::Kind::ReadAfter, "src.bin", 4096});
    fs.Add({test::Fault::Kind::WriteAfter, "out.bin", 100, Status::Code::NoSpace});

    std::unique_ptr<File> in, out;
    ASSERT_TRUE(fs.OpenRead(dir / "src.bin", in).ok());
    char buffer[8192];
    std::size_t got = 0;
    EXPECT_FALSE(in->ReadFull(buffer, sizeof buffer, got).ok());
    ASSERT_TRUE(fs.OpenWrite(dir / "out.bin", out).ok());
    EXPECT_TRUE(out->Write(buffer, 60).ok());
    EXPECT_EQ(out->Write(buffer, 60).code(), Status::Code::NoSpace);
}

TEST(PrivateTempFolder, IsPrivateAndRemovedWithItsContents) {
    std::string path;
    {
        PrivateTempFolder folder;
        ASSERT_TRUE(folder.Create().ok());
        path = folder.path();
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        std::unique_ptr<File> f;
        ASSERT_TRUE(DefaultFileSystem().OpenWrite(path + "/staged.cvn", f).ok());
    }
    struct stat st {};
    EXPECT_NE(::stat(path.c_str(), &st), 0);
}

}  // namespace
}  // namespace corvane
