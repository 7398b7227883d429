#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "app/BackupApp.h"

namespace corvane {
namespace {

// One run of lookups in order: each gives an index of imageList, new or cached.
TEST(IconCache, EachTypeIsAddedOnceAndEveryIndexIsValid) {
    CBackupApp app;
    app.LoadFixedImages();
    struct Lookup {
        const char* input;
        int index;  // expected result
        int count;  // imageList size afterwards
    };
    const Lookup lookups[] = {
        {".txt", 4, 5},  // the first type follows the four fixed pictures
        {".TXT", 4, 5},  // keys ignore case: a hit, nothing added
        {".doc", 5, 6},
        {"README", 6, 7},  // no dot: the whole name is the key
        {"readme", 6, 7},
        {"C:\\Programs\\tool.exe", 7, 8},  // an executable is keyed by its own name
        {"D:\\Other\\setup.exe", 8, 9},
        {"E:\\copy\\TOOL.EXE", 7, 9},
        {".exe", 9, 10},   // no backslash: the key is ".exe"
        {".lnk", 10, 11},  // shortcuts keep "lnk": there is nothing to follow
        {".LNK", 10, 11},
        {"archive.", 11, 12},  // an empty key is added every time, never cached
        {"archive.", 12, 13},
        {"x.unknown-type-zz", 13, 14},  // no icon for the type: a plain file picture
    };
    for (const Lookup& lookup : lookups) {
        SCOPED_TRACE(lookup.input);
        const int index = app.LookupFileIcon(lookup.input);
        EXPECT_EQ(index, lookup.index);
        EXPECT_EQ(app.imageList.Count(), lookup.count);
        EXPECT_FALSE(app.imageList.At(index).isNull());
    }
    EXPECT_EQ(app.iconKeys,
              (std::vector<std::string>{"txt", "doc", "README", "tool.exe", "setup.exe", ".exe",
                                        "lnk", "unknown-type-zz"}));
}

// Without a desktop naming an icon theme (as under the offscreen platform here), file types
// still get pictures of their own from an installed theme, not one page for every file.
TEST(IconCache, FileTypesGetTheirOwnPicturesWithoutADesktopTheme) {
    CBackupApp app;
    app.LoadFixedImages();
    std::vector<QImage> pictures;
    for (const char* name : {"notes.txt", "photo.png", "song.mp3", "film.mkv"})
        pictures.push_back(app.imageList.At(app.LookupFileIcon(name)).pixmap(16, 16).toImage());
    for (std::size_t a = 0; a < pictures.size(); ++a)
        for (std::size_t b = a + 1; b < pictures.size(); ++b)
            EXPECT_NE(pictures[a], pictures[b]) << "types " << a << " and " << b << " look the same";
}

}  // namespace
}  // namespace corvane
