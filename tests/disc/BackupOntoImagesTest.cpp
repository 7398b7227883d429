// The backup job with the real disc layer writing image files: discs that stay within their
// capacity, where a disc is staged and the room it needs, a backup that would continue an
// earlier one, and failures that say what went wrong.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include "archive/BackupJob.h"
#include "archive/SetCatalogueReader.h"
#include "archive/StreamFormat.h"
#include "disc/DiscLayer.h"
#include "disc/FolderLock.h"
#include "disc/ImageFileSystem.h"
#include "support/FaultyFileSystem.h"
#include "support/PeerTools.h"
#include "support/ScopedTmpdir.h"
#include "support/ScratchFolder.h"
#include "support/TestBackupHost.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kProgramSize = 60000;

// A source folder, a host answering Yes to every question and an image recorder in a scratch
// folder.
struct ImageBackup {
    explicit ImageBackup(std::uint64_t discCapacity) : capacity(discCapacity) {
        host.files = &files;
        host.programPath = scratch.WriteFile("program", SampleBytes(kProgramSize, 1));
        host.sourceSelection = SourceChoice{source.path(), std::string("DATA")};
        host.answers = {MessageAnswer::Yes};
        host.defaultAnswer = MessageAnswer::Retry;
    }

    BackupOutcome Run() {
        const ImageRecorderPath recorder{"test", capacity, images};
        host.recorderSelection = MakeImageRecorderPath(recorder);
        DiscLayerOptions options{{recorder}, false};
        BackupJobServices services{[options] { return std::shared_ptr<IDiscMaster>(CreateDiscMaster(options)); },
                                   [](const std::string& path) { return path; }};
        return RunBackupJob(host, services);
    }

    // The stream numbers on every image, in image order.
    std::vector<long long> StreamNumbers() {
        ImageFileSystem reader(DefaultFileSystem());
        std::vector<long long> numbers;
        for (const auto& name : FolderNames(images)) {
            std::vector<FolderEntry> entries;
            EXPECT_TRUE(reader.ListFolder(images + "/" + name, entries).ok()) << name;
            std::vector<long long> onDisc;
            StreamNameParts parts;
            for (const auto& entry : entries)
                if (ParseStreamName(entry.name, parts)) onDisc.push_back(parts.sequence);
            std::sort(onDisc.begin(), onDisc.end());
            numbers.insert(numbers.end(), onDisc.begin(), onDisc.end());
        }
        return numbers;
    }

    ScratchFolder source;
    ScratchFolder scratch;
    std::string images = scratch / "discs";
    std::uint64_t capacity;
    FaultyFileSystem files;
    TestBackupHost host;
};

std::string Messages(const TestBackupHost& host) {
    std::string all;
    for (const auto& m : host.messages) all += m.text + "\n";
    return all;
}

// Trees that need many discs, each backed up onto discs of several capacities: every disc is
// within its capacity, every folder's stream reaches one, and success is said once, at the end.
TEST(BackupOntoImages, EveryDiscStaysWithinItsCapacityAndTheBackupCompletes) {
    struct Tree {
        const char* name;
        void (*fill)(const ScratchFolder&);
        int folders;
    };
    const Tree trees[] = {
        {"empty folders", [](const ScratchFolder& s) { for (int i = 0; i < 200; ++i) s.MakeFolder("f" + std::to_string(i)); }, 201},
        {"small files",
         [](const ScratchFolder& s) {
             for (int i = 0; i < 100; ++i) s.WriteFile("d" + std::to_string(i) + "/f", SampleBytes(i * 37 % 3000, i));
         },
         101},
        {"mixed",
         [](const ScratchFolder& s) {
             for (int i = 0; i < 40; ++i) {
                 s.WriteFile("d" + std::to_string(i) + "/big", SampleBytes(i * 4973 % 60000, i));
                 s.MakeFolder("d" + std::to_string(i) + "/empty");
             }
         },
         81},
    };
    for (const Tree& tree : trees) {
        for (std::uint64_t capacity : {kProgramSize + 140000 + 777, kProgramSize + 210000 + 3001}) {
            SCOPED_TRACE(std::string(tree.name) + ", capacity " + std::to_string(capacity));
            ImageBackup backup(capacity);
            tree.fill(backup.source);
            ASSERT_EQ(backup.Run(), BackupOutcome::Completed) << Messages(backup.host);
            const std::vector<std::string> images = FolderNames(backup.images);
            EXPECT_GE(images.size(), 2u);
            for (const auto& image : images) EXPECT_LE(fs::file_size(backup.images + "/" + image), capacity) << image;
            std::vector<long long> expected(tree.folders);
            for (int i = 0; i < tree.folders; ++i) expected[i] = i;
            EXPECT_EQ(backup.StreamNumbers(), expected) << "every folder, each once, in order";
            const auto statuses = backup.host.Entries("SetStatus ");
            EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Completed Successfully!"), 1);
            EXPECT_EQ(statuses.back(), "Completed Successfully!");
            EXPECT_EQ(HiddenFolders(backup.images), std::vector<std::string>{}) << "staging left behind";
        }
    }
}

// A folder that would fit an empty disc but not one carrying the program is left out when it
// is first offered: the disc it was offered to is not closed early, and no disc holds only the
// program.
// What discs 1 to N hold, read from the images themselves, as the catalogue on disc N must
// describe it.
struct DiscContent {
    std::vector<CatalogueStream> streams;
    std::vector<std::vector<CatalogueFile>> files;  // name and record offset, per stream
};

Digest128 DigestOf(const std::string& bytes) {
    ContentHash hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Digest();
}

std::string ReadAll(FileSystem& files, const std::string& path) {
    std::unique_ptr<File> in;
    EXPECT_TRUE(files.OpenRead(path, in).ok()) << path;
    if (!in) return {};
    std::string bytes;
    char buffer[65536];
    for (std::size_t got = 0; in->Read(buffer, sizeof buffer, got).ok() && got > 0;) bytes.append(buffer, got);
    return bytes;
}

// The streams of one image in sequence order, with their records.
void ReadDisc(ImageFileSystem& reader, const std::string& image, std::uint32_t disc, DiscContent& content) {
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(reader.ListFolder(image, entries).ok()) << image;
    std::map<long long, std::string> names;
    StreamNameParts parts;
    for (const auto& entry : entries)
        if (ParseStreamName(entry.name, parts)) names[parts.sequence] = entry.name;
    for (const auto& [sequence, name] : names) {
        const std::string bytes = ReadAll(reader, image + "/" + name);
        std::unique_ptr<File> in;
        ASSERT_TRUE(reader.OpenRead(image + "/" + name, in).ok());
        StreamReader stream(*in);
        FolderHeader header;
        ASSERT_TRUE(stream.ReadFolderHeader(header).ok());
        content.streams.push_back({name, static_cast<std::uint32_t>(sequence), disc, header.folderPath,
                                   !IsNoPassword(header.password), bytes.size(), DigestOf(bytes)});
        content.files.emplace_back();
        FileRecord record;
        for (bool found = true;;) {
            ASSERT_TRUE(stream.NextRecord(record, found).ok());
            if (!found) break;
            content.files.back().push_back({record.fileName, record.recordOffset, 0, record.created, record.modified, {}});
            ASSERT_TRUE(stream.SkipData().ok());
        }
    }
}

struct CatalogueRead final : CatalogueVisitor {
    CatalogueBackup backup;
    DiscContent content;
    void OnBackup(const CatalogueBackup& b) override { backup = b; }
    void OnStream(const CatalogueStream& stream) override {
        content.streams.push_back(stream);
        content.files.emplace_back();
    }
    void OnFile(const CatalogueFile& file) override { content.files.back().push_back(file); }
};

// A protected backup over at least three images: the catalogue on each lists exactly the
// streams and files of the discs up to it, with checksums of the streams' bytes and of the
// files' contents; it never holds the password; a peer verifies every image by its MD5 sums.
TEST(BackupOntoImages, EveryDiscCarriesTheCatalogueOfTheDiscsUpToIt) {
    ImageBackup backup(kProgramSize + 120000);
    backup.host.password = "sesame";
    std::map<std::string, std::string> sources;  // source path below the root -> bytes
    for (int i = 0; i < 14; ++i) {
        const std::string folder = i % 4 == 0 ? "" : "Docs/" + std::to_string(i) + "/";
        for (int f = 0; f < 1 + i % 3; ++f) {
            const std::string path = folder + "f" + std::to_string(i) + "-" + std::to_string(f) + ".txt";
            sources[path] = SampleBytes((i * 7919 + f * 104729) % 30000, i * 3 + f);
            backup.source.WriteFile(path, sources[path]);
        }
    }
    ASSERT_EQ(backup.Run(), BackupOutcome::Completed) << Messages(backup.host);
    const std::vector<std::string> images = FolderNames(backup.images);
    ASSERT_GE(images.size(), 3u);

    ImageFileSystem reader(DefaultFileSystem());
    DiscContent upToHere;
    for (std::uint32_t disc = 1; disc <= images.size(); ++disc) {
        SCOPED_TRACE("disc " + std::to_string(disc));
        const std::string image = backup.images + "/" + images[disc - 1];
        EXPECT_TRUE(XorrisoChecksMd5(image));
        ReadDisc(reader, image, disc, upToHere);

        const std::string catalogue = image + "/DATA 0812251430.catalog";
        EXPECT_EQ(ReadAll(reader, catalogue).find("sesame"), std::string::npos) << "never the password";
        std::unique_ptr<File> in;
        ASSERT_TRUE(reader.OpenRead(catalogue, in).ok());
        CatalogueRead read;
        Status s = ReadSetCatalogue(*in, read);
        ASSERT_TRUE(s.ok()) << s.message();
        EXPECT_EQ(read.backup.name, "DATA 0812251430");
        EXPECT_EQ(read.backup.discs, disc);
        ASSERT_EQ(read.content.streams.size(), upToHere.streams.size());
        for (std::size_t i = 0; i < upToHere.streams.size(); ++i) {
            const CatalogueStream& listed = read.content.streams[i];
            const CatalogueStream& held = upToHere.streams[i];
            EXPECT_EQ(listed.name, held.name);
            EXPECT_EQ(listed.sequence, held.sequence);
            EXPECT_EQ(listed.disc, held.disc) << held.name;
            EXPECT_EQ(listed.folderPath, held.folderPath);
            EXPECT_TRUE(listed.isProtected);
            EXPECT_EQ(listed.size, held.size);
            EXPECT_EQ(listed.checksum, held.checksum) << held.name;
            ASSERT_EQ(read.content.files[i].size(), upToHere.files[i].size()) << held.name;
            for (std::size_t f = 0; f < upToHere.files[i].size(); ++f) {
                const CatalogueFile& file = read.content.files[i][f];
                EXPECT_EQ(file.name, upToHere.files[i][f].name);
                EXPECT_EQ(file.recordOffset, upToHere.files[i][f].recordOffset);
                EXPECT_EQ(file.created, upToHere.files[i][f].created);
                EXPECT_EQ(file.modified, upToHere.files[i][f].modified);
                std::string relative = listed.folderPath.substr(1) + (listed.folderPath.size() > 1 ? "\\" : "") + file.name;
                std::replace(relative.begin(), relative.end(), '\\', '/');
                ASSERT_EQ(sources.count(relative), 1u) << relative;
                EXPECT_EQ(file.size, sources[relative].size()) << relative;
                EXPECT_EQ(file.checksum, DigestOf(sources[relative])) << relative;
            }
        }
    }
    std::size_t filesListed = 0;
    for (const auto& files : upToHere.files) filesListed += files.size();
    EXPECT_EQ(filesListed, sources.size()) << "every file of the source is on a disc";
}

TEST(BackupOntoImages, AFolderTooLargeBesideTheProgramIsLeftOutWithoutClosingTheDisc) {
    ImageBackup backup(300000);  // 232416 bytes after the image's own, 168928 beside the program
    backup.source.WriteFile("small.txt", "small");
    std::mt19937 random(3);
    std::string bytes(200000, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    backup.source.WriteFile("Big/big.bin", bytes);
    backup.source.WriteFile("After/after.txt", "after");

    EXPECT_EQ(backup.Run(), BackupOutcome::Incomplete) << Messages(backup.host);
    ASSERT_EQ(backup.host.leftOut.size(), 1u);
    EXPECT_TRUE(backup.host.leftOut[0].starts_with(backup.source / "Big: ")) << backup.host.leftOut[0];
    EXPECT_EQ(Messages(backup.host).find("insert another disc"), std::string::npos) << Messages(backup.host);
    EXPECT_EQ(FolderNames(backup.images).size(), 1u);
    EXPECT_EQ(backup.StreamNumbers(), (std::vector<long long>{0, 1})) << "the root and After";
}

// A $TMPDIR that cannot take anything (here: missing, and said to be full) does not matter:
// the streams and each disc are staged in a hidden folder beside the images, gone at the end.
TEST(BackupOntoImages, StagesBesideTheImagesNotInTmpdir) {
    ImageBackup backup(3 << 20);
    ScopedTmpdir tmp;  // after the backup's folders, which stay out of it
    const std::string missing = tmp.path() + "/missing";
    ::setenv("TMPDIR", missing.c_str(), 1);  // ScopedTmpdir puts the old one back
    backup.files.ReportFreeSpace(tmp.path(), 0);
    for (int i = 0; i < 3; ++i) backup.source.WriteFile("d" + std::to_string(i) + "/f", SampleBytes(1 << 20, i));
    std::vector<std::string> stagingWhileBurning;
    backup.host.onLog = [&](const std::string& entry) {
        if (entry == "SetStatus Burning disc...") stagingWhileBurning = HiddenFolders(backup.images);
    };

    EXPECT_EQ(backup.Run(), BackupOutcome::Completed) << Messages(backup.host) << backup.host.status;
    EXPECT_GE(FolderNames(backup.images).size(), 1u);
    EXPECT_FALSE(stagingWhileBurning.empty()) << "the disc was staged beside the images";
    EXPECT_EQ(HiddenFolders(backup.images), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(missing)) << "nothing was put in TMPDIR";
}

// A backup ended on the spot leaves its staging folder and unfinished image behind; the next
// backup into the folder removes them, and nothing of a process that still runs.
TEST(BackupOntoImages, LeftoversOfABackupThatWasKilledAreRemoved) {
    ImageBackup backup(1 << 20);
    backup.source.WriteFile("a.txt", "a");
    const std::string gone = ".corvane-999999999-";  // beyond any process id Linux gives
    backup.scratch.WriteFile("discs/" + gone + "Ab12Cd/1", SampleBytes(5000, 2));
    backup.scratch.WriteFile("discs/" + gone + "0.iso", "unfinished");
    backup.scratch.WriteFile("discs/.corvane-1-Ef34Gh/1", "init still runs");
    backup.scratch.WriteFile("discs/.corvane-notes", "not ours");

    ASSERT_EQ(backup.Run(), BackupOutcome::Completed) << Messages(backup.host);
    EXPECT_EQ(HiddenFolders(backup.images), std::vector<std::string>{".corvane-1-Ef34Gh"});
    std::vector<std::string> files = FolderNames(backup.images);
    files.erase(std::remove_if(files.begin(), files.end(), [](const std::string& n) { return n.ends_with(" disc 01.iso"); }),
                files.end());
    EXPECT_EQ(files, std::vector<std::string>{".corvane-notes"});
}

// Before each disc the staging folder must have room for what the disc takes, twice for an
// image recorder (the staged streams and the image beside them), no more than is left to
// back up: a small backup onto large discs needs little.
TEST(BackupOntoImages, TooLittleRoomBesideTheImagesIsSaidBeforeADiscIsStarted) {
    struct Case {
        const char* what;
        std::uint64_t capacity;
        std::uint64_t free;
        bool fits;
    } cases[] = {
        {"a full folder", 4 << 20, 1 << 20, false},
        {"room for one disc but not for its image", 4 << 20, 6 << 20, false},
        {"a small backup onto a large disc", kBdCapacity, 8 << 20, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImageBackup backup(c.capacity);
        backup.source.WriteFile("big", SampleBytes(c.fits ? 100000 : 5 << 20, 3));
        backup.files.ReportFreeSpace(backup.images, c.free);
        const BackupOutcome outcome = backup.Run();
        if (c.fits) {
            EXPECT_EQ(outcome, BackupOutcome::Completed) << Messages(backup.host);
            continue;
        }
        EXPECT_EQ(outcome, BackupOutcome::Failed);
        const std::string said = "There is not enough room in " + backup.images + " for the next disc: it needs ";
        ASSERT_EQ(backup.host.messages.size(), 2u) << Messages(backup.host);
        EXPECT_TRUE(backup.host.messages[1].text.starts_with(said)) << backup.host.messages[1].text;
        EXPECT_TRUE(backup.host.messages[1].text.ends_with(" are free. Free some space, or choose another folder."));
        EXPECT_EQ(backup.host.status, backup.host.messages[1].text);
        EXPECT_EQ(FolderNames(backup.images), std::vector<std::string>{});
        EXPECT_EQ(HiddenFolders(backup.images), std::vector<std::string>{});
    }
}

// Two backups of one source in the same minute would share a name: the second is refused
// before anything is written, and says why.
TEST(BackupOntoImages, ABackupNeverContinuesAnEarlierOneOfTheSameName) {
    ImageBackup first(1 << 20);
    first.source.WriteFile("a.txt", "first");
    ASSERT_EQ(first.Run(), BackupOutcome::Completed);
    const std::vector<std::string> before = FolderNames(first.images);
    ASSERT_EQ(before.size(), 1u);
    ASSERT_TRUE(before[0].starts_with("DATA ") && before[0].ends_with(" disc 01.iso")) << before[0];
    const std::string backupName = before[0].substr(0, before[0].size() - std::string(" disc 01.iso").size());

    ImageBackup second(1 << 20);
    second.images = first.images;
    second.host.instantClock.now = first.host.instantClock.now + 59;  // the same minute
    EXPECT_EQ(second.Run(), BackupOutcome::Failed);
    const std::string said = "The folder " + first.images + " already holds discs of the backup " + backupName +
                             ": wait a minute, or choose another folder.";
    ASSERT_EQ(second.host.messages.size(), 1u) << "asked nothing";
    EXPECT_EQ(second.host.messages[0].text, said);
    EXPECT_EQ(second.host.status, said);
    EXPECT_EQ(FolderNames(first.images), before);

    second.host.instantClock.now += 60;  // the next minute
    second.host.answers = {MessageAnswer::Yes};
    EXPECT_EQ(second.Run(), BackupOutcome::Completed) << Messages(second.host);
    EXPECT_EQ(FolderNames(first.images).size(), 2u);
}

// An image folder that cannot be used fails the backup with the reason, not with a request
// to insert a disc and not as "Cancelled"; so does a program that cannot be staged.
TEST(BackupOntoImages, FailuresOfTheImageFolderSayWhy) {
    struct Case {
        const char* what;
        void (*arrange)(ImageBackup&, FolderLock&);
        std::string said;  // "%I" stands for the image folder
    } cases[] = {
        {"its parent is missing", [](ImageBackup& b, FolderLock&) { b.images = b.scratch / "missing/discs"; },
         "The image folder %I cannot be made: the folder it belongs in is missing"},
        {"it is a file", [](ImageBackup& b, FolderLock&) { b.scratch.WriteFile("discs", "x"); },
         "The image folder %I is not a folder"},
        {"another job records into it",
         [](ImageBackup& b, FolderLock& lock) {
             fs::create_directories(b.images);
             ASSERT_TRUE(lock.Acquire(b.images).ok());
         },
         ""},
        {"the program cannot be read",
         [](ImageBackup& b, FolderLock&) { b.files.Add({Fault::Kind::OpenRead, b.host.programPath}); },
         "Cannot put the program on the disc: Injected fault on " + std::string("%P")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImageBackup backup(1 << 20);
        backup.source.WriteFile("a.txt", "a");
        FolderLock lock;
        c.arrange(backup, lock);
        EXPECT_EQ(backup.Run(), BackupOutcome::Failed);
        const std::string status = backup.host.status;
        std::string said = c.said;
        if (auto at = said.find("%I"); at != std::string::npos) said.replace(at, 2, backup.images);
        if (auto at = said.find("%P"); at != std::string::npos) said.replace(at, 2, backup.host.programPath);
        if (said.empty()) {
            EXPECT_NE(status.find(backup.images), std::string::npos) << status;
        } else {
            EXPECT_EQ(status, said);
        }
        EXPECT_EQ(Messages(backup.host).find("insert"), std::string::npos) << Messages(backup.host);
        EXPECT_GE(backup.host.messages.size(), 2u) << "the confirmation, then the cause";
        EXPECT_EQ(backup.host.failure, status);
    }
}

}  // namespace
}  // namespace corvane::test
