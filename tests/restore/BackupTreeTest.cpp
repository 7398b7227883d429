#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "RestoreFixture.h"
#include "restore/PlainCatalogTree.h"

namespace corvane {
namespace {

using test::RestoreTest;
using test::SampleFile;

const QString kBackup = QStringLiteral("08-12-25 14:30");
constexpr std::int64_t kChristmas1430 = 1230215400;  // 2008-12-25 14:30 UTC

TEST_F(RestoreTest, TreeShowsDrivesBackupsFoldersAndListedFiles) {
    Stream("DATA 0812251430 0.cvn", "\\",
           {{"b.doc", "b"}, {"a.txt", "hello", kChristmas1430, kChristmas1430 + 3600}});
    Stream("DATA 0812251430 1.cvn", "\\Docs", {{"report.txt", "r"}});
    Stream("DATA 0812251430 2.cvn", "\\Docs\\2008");
    Stream("data 0901020304 0.cvn", "\\", {{"c.txt", "c"}});
    Stream("Stick 0812251430 0.cvn", "\\");
    Open();

    EXPECT_EQ(Outline(),
              "DATA\n"
              "  08-12-25 14:30\n"
              "    Docs\n"
              "      2008\n"
              "    ROOT\n"
              "  09-01-02 03:04\n"
              "    ROOT\n"
              "Stick\n"
              "  08-12-25 14:30\n"
              "    ROOT\n");
    EXPECT_EQ(Item({"DATA"})->image, kImageStick);
    EXPECT_EQ(Item({"DATA", kBackup})->image, kImageDisc);
    EXPECT_EQ(Item({"DATA", kBackup, "Docs"})->image, kImageFolder);
    EXPECT_FALSE(Tree().showLoadingCursor());

    CTreeItem* root = Expand({"DATA", kBackup, "ROOT"});
    EXPECT_EQ(ChildTexts(root), (std::vector<std::string>{"a.txt", "b.doc"}));
    CTreeItem* file = Item({"DATA", kBackup, "ROOT", "a.txt"});
    ASSERT_NE(file, nullptr);
    EXPECT_GE(file->image, 4) << "file pictures come from the icon cache";
    EXPECT_EQ(file->data(0, Qt::ToolTipRole).toString(),
              "Created:\tThursday December 25, 2008  0230PM\n"
              "Last Modified:\tThursday December 25, 2008  0330PM");
    for (const CTreeItem* other : {root, Item({"DATA", kBackup}), Item({"DATA"})})
        EXPECT_FALSE(other->data(0, Qt::ToolTipRole).isValid()) << other->text(0).toStdString();

    CTreeItem* empty = Expand({"DATA", kBackup, "Docs", "2008"});
    EXPECT_EQ(empty->childCount(), 0) << "an empty folder loses its expand button";
}

TEST_F(RestoreTest, NamesFromSingleByteSystemsAreReadAsWindows1252) {
    Stream("L 0812251430 0.cvn", "\\Caf\xe9", {{"r\xe9sum\xe9.txt", "x"}});
    Open();
    Expand({"L", kBackup, QStringLiteral("Café")});
    EXPECT_NE(Item({"L", kBackup, QStringLiteral("Café"), QStringLiteral("résumé.txt")}), nullptr)
        << Outline();
}

// Sequence numbers 10 and 11 list before 2 when names are compared as text, and a folder
// may list in any order; the tree must come out the same, parents' files included, and the
// drives in the order of their labels.
TEST_F(RestoreTest, StreamsAreShownInBackupOrderWhateverTheListingOrder) {
    Stream("Alpha 0901011200 0.cvn", "\\");
    Stream("L 0812251430 0.cvn", "\\");
    Stream("L 0812251430 1.cvn", "\\A");
    Stream("L 0812251430 2.cvn", "\\Docs", {{"d.txt", "d"}});
    for (int i = 3; i <= 9; ++i)
        Stream("L 0812251430 " + std::to_string(i) + ".cvn", "\\Docs\\S" + std::to_string(i));
    Stream("L 0812251430 10.cvn", "\\Docs\\S3\\Deep", {{"deep.txt", "e"}});
    Stream("L 0812251430 11.cvn", "\\Docs\\S3\\Deep\\Deeper");
    const std::string expected =
        "Alpha\n  09-01-01 12:00\n    ROOT\n"
        "L\n  08-12-25 14:30\n    A\n    Docs\n      d.txt\n      S3\n        Deep\n"
        "          deep.txt\n          Deeper\n      S4\n      S5\n      S6\n      S7\n      S8\n"
        "      S9\n    ROOT\n";

    struct Listing {
        const char* name;
        FileSystem* files;
        std::vector<std::string> sources;
    };
    for (const Listing& listing :
         {Listing{"names ascending", &ascendingNames, {disc.path()}},
          Listing{"names descending", &descendingNames, {disc.path()}},
          Listing{"disc given twice", &descendingNames, {disc.path(), disc.path()}}}) {
        SCOPED_TRACE(listing.name);
        Open(listing.sources, listing.files);
        Expand({"L", kBackup, "Docs"});
        Expand({"L", kBackup, "Docs", "S3", "Deep"});
        EXPECT_EQ(Outline(), expected);
    }
}

// Streams from another writer may come in any order: a sub-folder's stream placed before its
// parent's must not hide the parent's own files.
TEST_F(RestoreTest, ParentStreamAfterItsSubFolderStillShowsItsFiles) {
    Stream("L 0812251430 0.cvn", "\\Docs", {{"d.txt", "d"}, {"Late", "a file"}});
    Stream("L 0812251430 1.cvn", "\\Docs\\Sub");
    Stream("L 0812251430 2.cvn", "\\Docs\\Late");
    std::vector<BackupStream> streams;
    ASSERT_TRUE(FindStreams(DefaultFileSystem(), disc.path(), streams).ok());
    SortStreams(streams);
    ASSERT_EQ(streams.size(), 3u);
    for (BackupStream& stream : streams)
        ASSERT_TRUE(ReadStreamHeader(DefaultFileSystem(), stream).ok());
    const BackupStream &parent = streams[0], &sub = streams[1], &late = streams[2];
    test::ScratchFolder noStreams;
    Open({noStreams.path()});

    AddBackupStream(Tree(), sub, {});
    AddBackupStream(Tree(), parent, {});
    CTreeItem* docs = Item({"L", kBackup, "Docs"});
    ASSERT_NE(docs, nullptr);
    ASSERT_NE(docs->record, nullptr) << "the parent's record goes to the folder item already there";
    EXPECT_EQ(docs->record->streamPath, parent.path);
    Expand({"L", kBackup, "Docs"});
    EXPECT_EQ(ChildTexts(docs), (std::vector<std::string>{"d.txt", "Late", "Sub"}));

    // A sub-folder whose stream arrives after the listing gets a folder of its own beside the
    // file of the same name.
    AddBackupStream(Tree(), late, {});
    ASSERT_EQ(ChildTexts(docs), (std::vector<std::string>{"d.txt", "Late", "Late", "Sub"}));
    EXPECT_EQ(CMyTree::ItemOf(docs->child(1))->record->kind, kFileItem);
    EXPECT_EQ(CMyTree::ItemOf(docs->child(2))->record->streamPath, late.path);
    EXPECT_NE(FindPlaceholder(Tree(), CMyTree::ItemOf(docs->child(2))), nullptr);
}

TEST_F(RestoreTest, FoldersNamedLikeOtherItemsKeepItemsOfTheirOwn) {
    Stream("L 0812251430 0.cvn", "\\", {{"r.txt", "r"}});
    Stream("L 0812251430 1.cvn", "\\root", {{"q.txt", "q"}});
    Stream("L 0812251430 2.cvn", "\\Docs", {{"d.txt", "d"}});
    Stream("L 0812251430 3.cvn", "\\Docs\\dummy", {{"z.txt", "z"}});
    Open();
    EXPECT_EQ(Outline(), "L\n  08-12-25 14:30\n    Docs\n      dummy\n    ROOT\n    root\n");

    Expand({"L", kBackup, "ROOT"});
    Expand({"L", kBackup, "root"});
    Expand({"L", kBackup, "Docs"});
    Expand({"L", kBackup, "Docs", "dummy"});
    EXPECT_EQ(Outline(),
              "L\n  08-12-25 14:30\n    Docs\n      d.txt\n      dummy\n        z.txt\n    ROOT\n"
              "      r.txt\n"
              "    root\n      q.txt\n");
}

TEST_F(RestoreTest, RestoreCollectsChildrenFirstAndAFolderStreamReplacesItsFiles) {
    const std::string s0 = Stream("L 0812251430 0.cvn", "\\", {{"a.txt", "a"}, {"b.txt", "b"}});
    const std::string s1 = Stream("L 0812251430 1.cvn", "\\Docs", {{"d.txt", "d"}});
    const std::string s2 = Stream("L 0812251430 2.cvn", "\\Docs\\2008", {{"e.txt", "e"}});
    Open();
    Expand({"L", kBackup, "ROOT"});
    Expand({"L", kBackup, "Docs"});

    std::vector<RestoreEntries> handed;
    window->runExtract = [&](RestoreEntries& entries) { handed.push_back(entries); };
    auto restore = [&](const std::vector<QString>& path) {
        Tree().setCurrentItem(Item(path));
        window->OnRestore();
        return handed.back();
    };

    RestoreEntries file = restore({"L", kBackup, "ROOT", "b.txt"});
    EXPECT_EQ(file.streamPaths, std::vector<std::string>{s0});
    test::ReadBack written;
    ASSERT_TRUE(test::ReadSampleStream(s0, written).ok());
    EXPECT_EQ(file.recordOffsets, std::vector<std::uint64_t>{written.records[1].recordOffset});
    EXPECT_EQ(file.itemNames, std::vector<std::string>{"b.txt"});

    RestoreEntries folder = restore({"L", kBackup, "ROOT"});
    EXPECT_EQ(folder.streamPaths, std::vector<std::string>{s0});
    EXPECT_EQ(folder.recordOffsets, std::vector<std::uint64_t>{0});

    RestoreEntries backup = restore({"L", kBackup});
    EXPECT_EQ(backup.streamPaths, (std::vector<std::string>{s2, s1, s0}));
    EXPECT_EQ(backup.recordOffsets, (std::vector<std::uint64_t>{0, 0, 0}));
    EXPECT_EQ(backup.itemNames, (std::vector<std::string>{"2008", "Docs", "ROOT"}));
    EXPECT_EQ(backup.lockedPasswords, (std::vector<std::string>{"", "", ""}));
}

TEST_F(RestoreTest, ContextMenuOffersWhatAppliesToTheItem) {
    Stream("L 0812251430 0.cvn", "\\", {{"a.txt", "a"}});
    Open();
    Expand({"L", kBackup, "ROOT"});
    struct Case {
        const char* what;
        QTreeWidgetItem* item;
        bool fileCommands;
        bool restore;
    };
    for (const Case& c :
         {Case{"empty space", nullptr, false, false}, Case{"drive", Item({"L"}), false, false},
          Case{"backup", Item({"L", kBackup}), false, true},
          Case{"folder", Item({"L", kBackup, "ROOT"}), false, true},
          Case{"file", Item({"L", kBackup, "ROOT", "a.txt"}), true, true}}) {
        const ContextMenuState state = CRestore::ContextMenuStateFor(c.item);
        EXPECT_EQ(state.fileCommands, c.fileCommands) << c.what;
        EXPECT_EQ(state.restore, c.restore) << c.what;
    }
}

// Little-endian fields for hand-made streams.
std::string U32(std::uint32_t v) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return bytes;
}
std::string Header(const std::string& path) {
    return U32(static_cast<std::uint32_t>(path.size())) + path + std::string(16, ' ');
}
std::string EmptyFileRecord(const std::string& name) {
    return U32(static_cast<std::uint32_t>(name.size())) + name + U32(0) + std::string(16, '\0');
}

TEST_F(RestoreTest, DamagedStreamsNeitherStopTheScanNorTheListing) {
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> files;  // listed from the damaged stream; empty: not shown
    };
    const std::string twoFiles =
        Header("\\Bad") + EmptyFileRecord("x.txt") + EmptyFileRecord("y.txt");
    const std::vector<Case> cases = {
        {"header cut short", std::string("\x05\x00", 2), {}},
        {"negative PathLength", U32(0xFFFFFFFF) + "\\Bad" + std::string(16, ' '), {}},
        {"PathLength 260", U32(260) + std::string(260, 'A') + std::string(16, ' '), {}},
        {"password cut short", U32(4) + "\\Bad" + "    ", {}},
        {"NameLength huge",
         Header("\\Bad") + EmptyFileRecord("x.txt") + U32(0x7FFFFFFF) + "y",
         {"x.txt"}},
        {"record head cut short", twoFiles.substr(0, twoFiles.size() - 10), {"x.txt"}},
        {"DataSize past the end",
         Header("\\Bad") + U32(5) + "p.txt" + U32(0xFFFFFFF0) + std::string(16, '\0') + "abc",
         {"p.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder folder;
        ASSERT_TRUE(
            test::WriteSampleStream(folder / "L 0812251430 0.cvn", "\\", "", {{"good.txt", "g"}})
                .ok());
        std::ofstream(folder / "L 0812251430 1.cvn", std::ios::binary) << c.bytes;
        scanWarnings.messages.clear();
        Open({folder.path()});

        Expand({"L", kBackup, "ROOT"});
        EXPECT_NE(Item({"L", kBackup, "ROOT", "good.txt"}), nullptr);
        CTreeItem* bad = Item({"L", kBackup, "Bad"});
        if (c.files.empty()) {
            EXPECT_EQ(bad, nullptr) << Outline();
            ASSERT_EQ(scanWarnings.messages.size(), 1u) << "the stream left out is named once";
            EXPECT_NE(scanWarnings.messages[0].text.find(folder / "L 0812251430 1.cvn was left out: "),
                      std::string::npos)
                << scanWarnings.messages[0].text;
            continue;
        }
        EXPECT_TRUE(scanWarnings.messages.empty()) << "its header reads, so its damage shows when it is listed";
        ASSERT_NE(bad, nullptr) << Outline();
        Expand({"L", kBackup, "Bad"});
        EXPECT_EQ(ChildTexts(bad), c.files);
        window.reset();
    }
}

// A folder on a disc that is not present shows no more than its stream would: a protected
// one stays "<protected>" and lists no files (the catalogue holds no password to open it), an
// encrypted one shows as its stream does before its password; a plain one lists its files.
TEST(AbsentFolders, ShowNoMoreThanTheirStreamsWould) {
    KeyParameters parameters;
    parameters.opsLimit = 3;
    parameters.memLimitKiB = 65536;
    const std::vector<CatalogueFile> files = {{"b.txt", 30, 1, 0, 0, {}}, {"a.txt", 10, 1, 0, 0, {}}};
    struct Case {
        CatalogueStream stream;
        std::string outline;
    };
    const std::vector<Case> cases = {
        {{"DATA 0812251430 1.cvn", 1, 2, "\\Docs", false, 0, {}},
         "DATA\n  08-12-25 14:30\n    Docs (on disc 2)\n      a.txt\n      b.txt\n"},
        {{"DATA 0812251430 1.cvn", 1, 2, "\\Docs\\Secret", true, 0, {}},
         "DATA\n  08-12-25 14:30\n    Docs\n      <protected> (on disc 2)\n"},
        {{"DATA 0812251430 1.cvn", 1, 3, StoredKeyParameters(parameters), false, 0, {}},
         "DATA\n  08-12-25 14:30\n    <protected> (on disc 3)\n"},
    };
    for (const Case& c : cases) {
        PlainCatalogTree tree;
        const BackupStream stream = AbsentBackupStream(c.stream, files);
        AddBackupStream(tree, stream, {});
        UnlockPassword(tree, stream.password);  // no typed password opens what is not there
        EXPECT_EQ(CatalogOutline(tree), c.outline) << c.stream.folderPath;
        RestoreEntries entries;
        CollectForRestore(tree, nullptr, entries);
        EXPECT_EQ(entries.size(), 0u) << "nothing of a disc not present is handed to a restore";
    }
}

}  // namespace
}  // namespace corvane
