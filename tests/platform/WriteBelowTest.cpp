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

}  // namespace
}  // namespace corvane
