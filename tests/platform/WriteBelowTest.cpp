// Writing below a destination never leaves it: no link below the top is followed, whatever
// depth it stands at, and each refusal says what stood in the way.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileLayer.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

TEST(WriteBelow, FollowsNoLinkBelowTheTopAndSaysWhatStoodInTheWay) {
    const struct {
        const char* what;
        const char* link;     // below "top", to "outside"; empty: none
        const char* file;     // a file below "top"; empty: none
        const char* folders;  // made with CreateFoldersBelow
        const char* target;   // opened with OpenWriteBelow
        std::string failure;  // the end of the message, empty for success
    } cases[] = {
        {"plain", "", "", "a/b", "a/b/f", ""},
        {"link as the first folder", "a", "", "a/b", "a/b/f", "folder %T/a: it is a symbolic link"},
        {"link deeper down", "a/b", "", "a/b/c", "a/b/c/f", "folder %T/a/b: it is a symbolic link"},
        {"link at the target", "a/f", "", "a", "a/f", "Cannot create %T/a/f: it is a symbolic link"},
        {"file where a folder should be", "", "a", "a/b", "a/b/f", "Cannot create folder %T/a: a file has that name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder scratch;
        const std::string top = scratch.MakeFolder("via/top");
        scratch.MakeFolder("outside");
        if (*c.link) {
            fs::create_directories(fs::path(top + "/" + c.link).parent_path());
            fs::create_symlink(scratch / "outside", top + "/" + c.link);
        }
        if (*c.file) scratch.WriteFile(std::string("via/top/") + c.file, "a file");
        // The top itself may be reached through a link.
        fs::create_directory_symlink(scratch / "via", scratch / "link");
        const std::string linkedTop = scratch / "link/top";
        FileSystem& files = DefaultFileSystem();

        Status made = files.CreateFoldersBelow(linkedTop, c.folders);
        std::unique_ptr<File> file;
        Status opened = made.ok() ? files.OpenWriteBelow(linkedTop, c.target, file) : made;
        if (opened.ok()) opened = file->Write("x", 1);
        if (opened.ok()) opened = file->Close();
        std::string failure = c.failure;
        if (const auto at = failure.find("%T"); at != std::string::npos) failure.replace(at, 2, linkedTop);
        if (failure.empty()) {
            EXPECT_TRUE(opened.ok()) << opened.message();
            EXPECT_EQ(test::ReadWholeFile(top + "/" + c.target), "x");
        } else {
            EXPECT_FALSE(opened.ok());
            EXPECT_TRUE(opened.message().ends_with(failure)) << opened.message();
        }
        EXPECT_TRUE(fs::is_empty(scratch / "outside")) << "nothing where the link leads";
    }
}

// A restore keeps the folder it writes in open between files. Whatever happens to that folder
// meanwhile, no file is written where a link leads, a folder made anew is written in, and once
// the restore lets go nothing below the destination stays open.
TEST(WriteBelow, AKeptFolderIsNeverLeftThroughALinkAndIsLetGo) {
    test::ScratchFolder scratch;
    const std::string top = scratch.MakeFolder("top");
    scratch.MakeFolder("outside");
    PosixFileSystem files;
    files.KeepWalkedFolders(true);
    auto write = [&](const std::string& relative) {
        std::unique_ptr<File> file;
        Status s = files.OpenWriteBelow(top, relative, file);
        if (s.ok()) s = file->Write("x", 1);
        if (s.ok()) s = file->Close();
        return s;
    };
    ASSERT_TRUE(files.CreateFoldersBelow(top, "a/b").ok());
    ASSERT_TRUE(write("a/b/1").ok());

    // Removed, and a link put in its place: refused as a fresh walk refuses it.
    fs::remove_all(top + "/a/b");
    fs::create_directory_symlink(scratch / "outside", top + "/a/b");
    const Status throughLink = write("a/b/2");
    EXPECT_FALSE(throughLink.ok());
    EXPECT_TRUE(throughLink.message().ends_with("it is a symbolic link")) << throughLink.message();

    // Made anew: the file goes into the new folder.
    fs::remove(top + "/a/b");
    fs::create_directory(top + "/a/b");
    ASSERT_TRUE(write("a/b/3").ok());
    EXPECT_EQ(test::ReadWholeFile(top + "/a/b/3"), "x");

    // Moved away, and a link put in its place: the link is not followed.
    fs::rename(top + "/a/b", top + "/a/moved");
    fs::create_directory_symlink(scratch / "outside", top + "/a/b");
    write("a/b/4");
    EXPECT_TRUE(fs::is_empty(scratch / "outside")) << "nothing where the links lead";

    // The same for a folder kept from being made, and for one kept on the way to another:
    // the next walk starts from the deepest folder it shares with the last.
    ASSERT_TRUE(files.CreateFoldersBelow(top, "c").ok());
    fs::rename(top + "/c", top + "/c-moved");
    fs::create_directory_symlink(scratch / "outside", top + "/c");
    write("c/5");
    ASSERT_TRUE(files.CreateFoldersBelow(top, "d/e/f").ok());
    fs::rename(top + "/d", top + "/d-moved");
    fs::create_directory_symlink(scratch / "outside", top + "/d");
    files.CreateFoldersBelow(top, "d/g");
    write("d/e/6");
    EXPECT_TRUE(fs::is_empty(scratch / "outside")) << "nothing where the links lead";

    // A kept folder on the way removed since: the walk starts again from the top.
    ASSERT_TRUE(files.CreateFoldersBelow(top, "h/i/j").ok());
    fs::remove_all(top + "/h");
    ASSERT_TRUE(files.CreateFoldersBelow(top, "h/k").ok());
    ASSERT_TRUE(write("h/k/7").ok());
    EXPECT_EQ(test::ReadWholeFile(top + "/h/k/7"), "x");

    files.KeepWalkedFolders(false);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string open = fs::read_symlink(entry.path(), error).string();
        EXPECT_FALSE(open.starts_with(top)) << open << " is still open";
    }
}

}  // namespace
}  // namespace corvane
