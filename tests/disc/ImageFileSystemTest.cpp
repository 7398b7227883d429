#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "DiscMasterFixture.h"
#include "disc/ImageFileSystem.h"
#include "support/FaultyFileSystem.h"
#include "support/PeerTools.h"
#include "support/StreamTestUtil.h"

namespace corvane::test {
namespace {

using Files = std::map<std::string, std::string>;  // path in the image -> bytes
constexpr std::uint64_t kMiB = 1024 * 1024;

// What a backup disc holds, with names that have spaces and letters beyond ASCII.
const Files kDiscFiles = {
    {"corvane.exe", SampleBytes(40000, 1)},
    {"autorun.inf", "[AutoRun]\r\nOPEN=corvane.exe\r\n"},
    {"DATA 0812251430 0.cvn", SampleBytes(300000, 2)},
    {"Stick \xc3\x9c\xc3\xa9 0812251430 1.cvn", SampleBytes(5000, 3)},  // "Stick Üé ..."
    {"DATA 0812251430 2.cvn", ""},
};

Status ReadAll(FileSystem& files, const std::string& path, std::string& bytes) {
    bytes.clear();
    std::unique_ptr<File> file;
    Status status = files.OpenRead(path, file);
    char buffer[65536];
    for (std::size_t got = 1; status.ok() && got > 0;) {
        status = file->Read(buffer, sizeof buffer, got);
        bytes.append(buffer, got);
    }
    return status;
}

// Every file below a folder with its size, "Sub/name" for those in subfolders.
Status ListTree(FileSystem& files, const std::string& folder, const std::string& prefix,
                std::map<std::string, std::uint64_t>& tree) {
    std::vector<FolderEntry> entries;
    Status status = files.ListFolder(folder, entries);
    for (const auto& entry : entries) {
        if (!status.ok()) break;
        if (entry.info.isFolder())
            status = ListTree(files, folder + "/" + entry.name, prefix + entry.name + "/", tree);
        else
            tree[prefix + entry.name] = entry.info.size;
    }
    return status;
}

// A little-endian 32-bit field of an image, as ISO 9660 records store one half of each number.
std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

class ImageFiles : public DiscMasterFixture {
  protected:
    // An image recorded by our own disc layer, as a backup records a disc.
    std::string RecordedImage(const Files& files) {
        Start(64 * kMiB);
        for (const auto& [name, bytes] : files) EXPECT_TRUE(Add(name, bytes).ok()) << name;
        EXPECT_TRUE(master->RecordDisc(false, true).ok());
        std::vector<std::string> names = FolderNames(imageFolder);
        EXPECT_EQ(names.size(), 1u);
        return names.empty() ? "" : Image(names[0]);
    }

    std::string XorrisoImage(const Files& files, const std::string& name = "peer.iso") {
        std::string image = scratch / name;
        MakeImageWithXorriso(SourceFolder(name, files), image);
        return image;
    }

    std::string JolietOnlyImage(const Files& files, const std::string& name = "joliet.iso") {
        std::string image = scratch / name;
        MakeJolietOnlyImage(SourceFolder(name, files), image);
        return image;
    }

    ImageFileSystem images{DefaultFileSystem()};

  private:
    std::string SourceFolder(const std::string& image, const Files& files) {
        std::string folder = scratch.MakeFolder("source of " + image);
        for (const auto& [path, bytes] : files)
            scratch.WriteFile("source of " + image + "/" + path, bytes);
        return folder;
    }
};

TEST_F(ImageFiles, ListsAndReadsWhatEachToolRecorded) {
    Files withFolder = kDiscFiles;
    withFolder["Sub Folder/Inner \xc3\xb6.bin"] = SampleBytes(3000, 4);
    struct Case {
        std::string tool;
        std::string image;
        Files files;
    } cases[] = {
        {"our disc layer", RecordedImage(kDiscFiles), kDiscFiles},
        {"xorriso", XorrisoImage(withFolder), withFolder},
        {"genisoimage, Joliet names only", JolietOnlyImage(withFolder), withFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        FileInfo info;
        ASSERT_TRUE(images.Stat(c.image, info).ok());
        EXPECT_TRUE(info.isFolder());
        std::filesystem::path image(c.image);
        std::vector<FolderEntry> around;
        ASSERT_TRUE(images.ListFolder(image.parent_path().string(), around).ok());
        bool listedAsFolder = false;
        for (const auto& entry : around)
            if (entry.name == image.filename().string()) listedAsFolder = entry.info.isFolder();
        EXPECT_TRUE(listedAsFolder) << "by the folder it is in";

        std::map<std::string, std::uint64_t> expected, listed;
        for (const auto& [path, bytes] : c.files) expected[path] = bytes.size();
        ASSERT_TRUE(ListTree(images, c.image, "", listed).ok());
        EXPECT_EQ(listed, expected);

        std::unique_ptr<File> file;
        EXPECT_EQ(images.OpenRead(c.image + "/DATA 0812251430 9.cvn", file).code(),
                  Status::Code::NotFound);
        EXPECT_EQ(images.Stat(c.image + "/corvane.exe/deeper", info).code(),
                  Status::Code::NotFound);

        for (const auto& [path, bytes] : c.files) {
            std::string read;
            Status status = ReadAll(images, c.image + "/" + path, read);
            EXPECT_TRUE(status.ok()) << status.message();
            EXPECT_TRUE(read == bytes) << path << ": " << read.size() << " bytes read";
            ASSERT_TRUE(images.Stat(c.image + "/" + path, info).ok()) << path;
            EXPECT_TRUE(info.isFile());
            EXPECT_EQ(info.size, bytes.size());
            EXPECT_GT(info.modified, 1600000000) << "the recording time";
        }
    }
}

TEST_F(ImageFiles, SeeksAndReadsLikeThePlainFileEvenAfterTheFileSystemIsGone) {
    const std::string bytes = SampleBytes(300000, 5);
    std::string image = XorrisoImage({{"DATA 0812251430 0.cvn", bytes}});
    std::unique_ptr<File> plain, inImage;
    ASSERT_TRUE(DefaultFileSystem()
                    .OpenRead(scratch / "source of peer.iso/DATA 0812251430 0.cvn", plain)
                    .ok());
    {
        ImageFileSystem scoped(DefaultFileSystem());
        ASSERT_TRUE(scoped.OpenRead(image + "/DATA 0812251430 0.cvn", inImage).ok());
    }
    std::uint64_t length = 0;
    ASSERT_TRUE(inImage->Length(length).ok());
    EXPECT_EQ(length, bytes.size());

    struct Step {
        SeekFrom from;
        std::int64_t offset;
        std::size_t read;
    } steps[] = {
        {SeekFrom::Start, 150001, 5000},    {SeekFrom::Current, -10000, 70000},
        {SeekFrom::End, -10, 100},          {SeekFrom::End, 0, 10},
        {SeekFrom::Current, -299990, 4096}, {SeekFrom::Start, 0, 65536},
        {SeekFrom::End, 100, 10},           {SeekFrom::Current, -1000000, 3000},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(static_cast<int>(step.from)) + " " +
                     std::to_string(step.offset));
        std::uint64_t plainAt = 0, imageAt = 0;
        Status plainSeek = plain->Seek(step.offset, step.from, &plainAt);
        Status imageSeek = inImage->Seek(step.offset, step.from, &imageAt);
        ASSERT_EQ(imageSeek.code(), plainSeek.code()) << imageSeek.message();
        EXPECT_EQ(imageAt, plainAt);
        std::string fromPlain(step.read, '\0'), fromImage(step.read, '\0');
        std::size_t plainGot = 0, imageGot = 0;
        ASSERT_TRUE(plain->ReadFull(fromPlain.data(), step.read, plainGot).ok());
        ASSERT_TRUE(inImage->ReadFull(fromImage.data(), step.read, imageGot).ok());
        EXPECT_EQ(imageGot, plainGot);
        EXPECT_TRUE(fromImage == fromPlain);
    }
}

TEST_F(ImageFiles, StreamReaderFindsTheSameRecordsInAnImage) {
    const std::vector<SampleFile> sample = {
        {"Brief \xc3\xa4.txt", SampleBytes(20000, 6)},
        {"big.bin", SampleBytes(600000, 7), 1199145600, 1230768000},
        {"empty", ""},
    };
    std::string plain = scratch / "DATA 0812251430 3.cvn";
    ASSERT_TRUE(WriteSampleStream(plain, "\\Docs\\2008", "secret", sample).ok());
    std::string image = RecordedImage({{"DATA 0812251430 3.cvn", ReadWholeFile(plain)}});
    std::string inImage = image + "/DATA 0812251430 3.cvn";

    ReadBack fromPlain, fromImage;
    ASSERT_TRUE(ReadSampleStream(plain, fromPlain).ok());
    Status status = ReadSampleStream(inImage, fromImage, images);
    ASSERT_TRUE(status.ok()) << status.message();
    EXPECT_EQ(fromImage.header.folderPath, "\\Docs\\2008");
    EXPECT_EQ(fromImage.header.password, fromPlain.header.password);
    ASSERT_EQ(fromImage.records.size(), sample.size());
    for (std::size_t i = 0; i < sample.size(); ++i) {
        EXPECT_EQ(fromImage.records[i].fileName, sample[i].name);
        EXPECT_EQ(fromImage.records[i].recordOffset, fromPlain.records[i].recordOffset);
        EXPECT_EQ(fromImage.records[i].dataSize, fromPlain.records[i].dataSize);
        EXPECT_EQ(fromImage.records[i].modified, sample[i].modified);
        EXPECT_TRUE(fromImage.files[i].content == sample[i].content) << sample[i].name;
    }

    // Back from the end to a record, as restoring one file does.
    std::unique_ptr<File> file;
    ASSERT_TRUE(images.OpenRead(inImage, file).ok());
    StreamReader reader(*file);
    FolderHeader header;
    ASSERT_TRUE(reader.ReadFolderHeader(header).ok());
    FileRecord record;
    for (bool found = true; found;) ASSERT_TRUE(reader.NextRecord(record, found).ok());
    ASSERT_TRUE(reader.SeekToRecord(fromPlain.records[1].recordOffset, record).ok());
    EXPECT_EQ(record.dataSize, fromPlain.records[1].dataSize);
    EXPECT_EQ(record.created, sample[1].created);
}

// Images stay open between reads with the folders read from them; a file open twice at once
// still gets two readers of its own.
TEST_F(ImageFiles, AFileOpenTwiceAtOnceOrOpenedAgainReadsWhole) {
    const std::string bytes = SampleBytes(300000, 12);
    const std::string path = XorrisoImage({{"DATA 0812251430 0.cvn", bytes}}) + "/DATA 0812251430 0.cvn";
    std::unique_ptr<File> first, second;
    ASSERT_TRUE(images.OpenRead(path, first).ok());
    std::string fromFirst(bytes.size(), '\0');
    std::size_t got = 0;
    ASSERT_TRUE(first->ReadFull(fromFirst.data(), 100000, got).ok());
    ASSERT_EQ(got, 100000u);

    Status opened = images.OpenRead(path, second);
    ASSERT_TRUE(opened.ok()) << opened.message();
    std::string fromSecond(bytes.size(), '\0');
    ASSERT_TRUE(second->ReadFull(fromSecond.data(), bytes.size(), got).ok());
    EXPECT_EQ(got, bytes.size());
    EXPECT_TRUE(fromSecond == bytes);
    ASSERT_TRUE(first->ReadFull(fromFirst.data() + 100000, bytes.size() - 100000, got).ok());
    EXPECT_TRUE(fromFirst == bytes);
    first->Close();
    second->Close();

    for (int again = 0; again < 2; ++again) {
        std::string read;
        ASSERT_TRUE(ReadAll(images, path, read).ok());
        EXPECT_TRUE(read == bytes) << "read again, time " << again;
    }
}

// An image file rewritten in place with another image of the same size, and given back its
// last-write time, is still read afresh.
TEST_F(ImageFiles, AnImageRewrittenUnderItsNameIsReadAfresh) {
    const std::string name = "DATA 0812251430 0.cvn";
    const std::string first = XorrisoImage({{name, SampleBytes(5000, 13)}}, "first.iso");
    const std::string second = XorrisoImage({{name, SampleBytes(5000, 14)}}, "second.iso");
    FileInfo before;
    ASSERT_TRUE(DefaultFileSystem().Stat(first, before).ok());
    std::string read;
    ASSERT_TRUE(ReadAll(images, first + "/" + name, read).ok());
    EXPECT_TRUE(read == SampleBytes(5000, 13));

    const std::string replacement = ReadWholeFile(second);
    ASSERT_EQ(replacement.size(), before.size);
    scratch.WriteFile("first.iso", replacement);
    ASSERT_TRUE(DefaultFileSystem().SetModifiedTime(first, before.modified).ok());
    FileInfo after;
    ASSERT_TRUE(DefaultFileSystem().Stat(first, after).ok());
    ASSERT_EQ(after.created, before.created) << "the same file, rewritten";

    ASSERT_TRUE(ReadAll(images, first + "/" + name, read).ok());
    EXPECT_TRUE(read == SampleBytes(5000, 14));
}

TEST_F(ImageFiles, OtherPathsGoToTheWrappedFileSystem) {
    FaultyFileSystem faulty;
    faulty.Add({Fault::Kind::OpenRead, "refused"});
    ImageFileSystem files(faulty);
    const std::string folder = scratch.MakeFolder("restored");
    std::unique_ptr<File> file;
    ASSERT_TRUE(files.OpenWrite(folder + "/note.txt", file).ok());
    ASSERT_TRUE(file->Write("hello", 5).ok());
    ASSERT_TRUE(file->Close().ok());
    ASSERT_TRUE(files.CreateFolder(folder + "/sub").ok());
    ASSERT_TRUE(files.SetModifiedTime(folder + "/note.txt", 1199145600).ok());
    FileInfo info;
    ASSERT_TRUE(files.Stat(folder + "/note.txt", info).ok());
    EXPECT_EQ(info.size, 5u);
    EXPECT_EQ(info.modified, 1199145600);
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(files.ListFolder(folder, entries).ok());
    EXPECT_EQ(entries.size(), 2u);
    std::string read;
    ASSERT_TRUE(ReadAll(files, folder + "/note.txt", read).ok());
    EXPECT_EQ(read, "hello");
    ASSERT_TRUE(files.RemoveFile(folder + "/note.txt").ok());
    EXPECT_FALSE(std::filesystem::exists(folder + "/note.txt"));

    scratch.WriteFile("restored/refused.txt", "x");
    Status refused = files.OpenRead(folder + "/refused.txt", file);
    EXPECT_NE(refused.message().find("Injected fault"), std::string::npos) << refused.message();
    EXPECT_EQ(files.Stat(folder + "/missing/deeper", info).code(), Status::Code::NotFound);
}

TEST_F(ImageFiles, NothingInAnImageCanBeChanged) {
    std::string image = XorrisoImage(kDiscFiles);
    const std::string before = ReadWholeFile(image);
    const std::string inside = image + "/autorun.inf";
    std::unique_ptr<File> file;
    struct Change {
        std::string what;
        std::function<Status()> attempt;
    } changes[] = {
        {"create a file", [&] { return images.OpenWrite(image + "/new.txt", file); }},
        {"overwrite a file", [&] { return images.OpenWrite(inside, file); }},
        {"overwrite the image", [&] { return images.OpenWrite(image, file); }},
        {"create a folder", [&] { return images.CreateFolder(image + "/Sub"); }},
        {"remove a file", [&] { return images.RemoveFile(inside); }},
        {"remove the image", [&] { return images.RemoveFile(image); }},
        {"set a time", [&] { return images.SetModifiedTime(inside, 1199145600); }},
        {"write an open file",
         [&] {
             Status opened = images.OpenRead(inside, file);
             return opened.ok() ? file->Write("x", 1) : opened;
         }},
        {"truncate an open file",
         [&] {
             Status opened = images.OpenRead(inside, file);
             return opened.ok() ? file->Truncate(0) : opened;
         }},
    };
    for (const auto& change : changes) {
        Status status = change.attempt();
        EXPECT_EQ(status.code(), Status::Code::AccessDenied)
            << change.what << ": " << status.message();
        EXPECT_NE(status.message().find("disc image"), std::string::npos) << status.message();
    }
    file.reset();
    EXPECT_TRUE(ReadWholeFile(image) == before);
}

TEST_F(ImageFiles, DamagedAndForeignImagesGiveErrors) {
    const std::string bytes = SampleBytes(300000, 8);
    const std::string good = ReadWholeFile(XorrisoImage({{"DATA 0812251430 0.cvn", bytes}}));
    const std::size_t data = good.find(bytes.substr(0, 4096));
    ASSERT_NE(data, std::string::npos);
    struct Case {
        std::string name;
        std::optional<std::string> content;  // none: the file does not exist
        Status::Code list;
        Status::Code read;
    } cases[] = {
        {"missing.iso", std::nullopt, Status::Code::NotFound, Status::Code::NotFound},
        {"empty.iso", "", Status::Code::Corrupt, Status::Code::Corrupt},
        {"not an image.iso", SampleBytes(100000, 9), Status::Code::Corrupt, Status::Code::Corrupt},
        {"descriptor only.iso", good.substr(0, 17 * 2048), Status::Code::Corrupt,
         Status::Code::Corrupt},
        {"cut in the data.iso", good.substr(0, data + 150000), Status::Code::Ok,
         Status::Code::Corrupt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string image = scratch / c.name;
        if (c.content) scratch.WriteFile(c.name, *c.content);
        std::vector<FolderEntry> entries;
        Status listed = images.ListFolder(image, entries);
        EXPECT_EQ(listed.code(), c.list) << listed.message();
        std::string read;
        Status status = ReadAll(images, image + "/DATA 0812251430 0.cvn", read);
        EXPECT_EQ(status.code(), c.read) << status.message();
        EXPECT_NE(status.message().find(c.name), std::string::npos) << status.message();
    }

    // A file named ".iso" that is no image is still a plain file.
    FileInfo info;
    ASSERT_TRUE(images.Stat(scratch / "not an image.iso", info).ok());
    EXPECT_TRUE(info.isFile());
    std::string read;
    ASSERT_TRUE(ReadAll(images, scratch / "not an image.iso", read).ok());
    EXPECT_TRUE(read == SampleBytes(100000, 9));
}

// A Joliet root whose own record claims two blocks: libisofs then reads the next folder's
// records as entries of the root, its "." as one that has no name.
TEST_F(ImageFiles, EntriesWithoutANameAreLeftOut) {
    const Files files = {{"corvane.exe", SampleBytes(40000, 11)}, {"Sub/inner.bin", "x"}};
    std::string image = JolietOnlyImage(files);
    std::string bytes = ReadWholeFile(image);
    auto le32 = [&](std::size_t at) { return Le32(bytes, at); };
    const std::size_t descriptor = 17 * 2048;  // Joliet's, after the primary one
    ASSERT_EQ(bytes.substr(descriptor, 6), std::string(1, '\x02') + "CD001");
    const std::size_t rootLength = le32(descriptor + 156 + 2) * 2048 + 10;  // of the root's "."
    ASSERT_EQ(le32(rootLength), 2048u);
    bytes[rootLength + 1] = 0x10;
    scratch.WriteFile("joliet.iso", bytes);

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(images.ListFolder(image, entries).ok());
    std::set<std::string> names;
    for (const auto& entry : entries) names.insert(entry.name);
    EXPECT_EQ(names.count(""), 0u);
    EXPECT_EQ(names.count("corvane.exe"), 1u);
    FileInfo info;
    EXPECT_EQ(images.Stat(image + "/missing.cvn", info).code(), Status::Code::NotFound);
    std::string read;
    ASSERT_TRUE(ReadAll(images, image + "/corvane.exe", read).ok());
    EXPECT_TRUE(read == files.at("corvane.exe"));
}

// A folder whose records go on in a block that cannot be read fails to list, and fails the
// same way when it is asked for again: libisofs leaves such a folder holding entries it has
// freed, so it is never read twice.
TEST_F(ImageFiles, AFolderThatCannotBeReadFailsAgainWhenAskedAgain) {
    Files files;
    for (int i = 0; i < 40; ++i) files["Sub/a file with a name long enough to fill blocks " + std::to_string(i)] = "x";
    std::string image = JolietOnlyImage(files);
    std::string bytes = ReadWholeFile(image);
    const std::size_t descriptor = 17 * 2048;  // Joliet's, after the primary one
    ASSERT_EQ(bytes.substr(descriptor, 6), std::string(1, '\x02') + "CD001");
    std::size_t record = Le32(bytes, descriptor + 156 + 2) * 2048;  // the root's records
    const std::string sub("\0S\0u\0b", 6);                        // UTF-16BE
    while (bytes[record] != 0 && bytes.substr(record + 33, static_cast<std::uint8_t>(bytes[record + 32])) != sub)
        record += static_cast<std::uint8_t>(bytes[record]);
    ASSERT_NE(bytes[record], 0) << "Sub is in the root";
    ASSERT_GT(Le32(bytes, record + 10), 2048u) << "Sub's records take more than one block";
    bytes.resize((Le32(bytes, record + 2) + 1) * std::size_t{2048});  // its second block is gone
    scratch.WriteFile("joliet.iso", bytes);

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(images.ListFolder(image, entries).ok());
    for (int attempt = 0; attempt < 3; ++attempt) {
        Status listed = images.ListFolder(image + "/Sub", entries);
        EXPECT_EQ(listed.code(), Status::Code::Corrupt) << listed.message();
        std::unique_ptr<File> file;
        EXPECT_FALSE(images.OpenRead(image + "/Sub/" + files.begin()->first.substr(4), file).ok());
    }
}

TEST_F(ImageFiles, ReadErrorsOfTheImageFileReachTheReader) {
    std::string image = XorrisoImage({{"DATA 0812251430 0.cvn", SampleBytes(300000, 10)}});
    FaultyFileSystem faulty;
    faulty.Add({Fault::Kind::ReadAfter, ".iso", 200000});
    ImageFileSystem files(faulty);
    std::string read;
    Status status = ReadAll(files, image + "/DATA 0812251430 0.cvn", read);
    EXPECT_EQ(status.code(), Status::Code::IoError);
    EXPECT_NE(status.message().find("Injected fault"), std::string::npos) << status.message();
    EXPECT_LT(read.size(), 300000u);
}

// A drive holding the disc just recorded: its device has no image's name, and holds more than
// the volume, where a CD's run-out blocks after a recording cannot even be read.
TEST_F(ImageFiles, AGivenPlaceIsReadAsAnImageWhateverItsNameAndNeverPastTheVolume) {
    const std::string image = RecordedImage(kDiscFiles);
    const std::uint64_t volumeBytes = std::filesystem::file_size(image);
    const std::string device = scratch / "sr0";
    std::filesystem::copy_file(image, device);
    std::filesystem::resize_file(device, volumeBytes + 64 * 1024);
    FaultyFileSystem faulty;
    faulty.Add({Fault::Kind::ReadBeyond, "sr0", volumeBytes});

    std::vector<FolderEntry> entries;
    EXPECT_FALSE(ImageFileSystem(faulty).ListFolder(device, entries).ok()) << "its name alone makes no image";

    ImageFileSystem files(faulty, {device});
    FileInfo info;
    ASSERT_TRUE(files.Stat(device, info).ok());
    EXPECT_TRUE(info.isFolder());
    std::map<std::string, std::uint64_t> expected, listed;
    for (const auto& [path, bytes] : kDiscFiles) expected[path] = bytes.size();
    ASSERT_TRUE(ListTree(files, device, "", listed).ok());
    EXPECT_EQ(listed, expected);
    for (const auto& [path, bytes] : kDiscFiles) {
        std::string read;
        Status status = ReadAll(files, device + "/" + path, read);
        EXPECT_TRUE(status.ok()) << path << ": " << status.message();
        EXPECT_TRUE(read == bytes) << path << ": " << read.size() << " bytes read";
    }
}

}  // namespace
}  // namespace corvane::test
