// Preloaded into the program under test (LD_PRELOAD), it makes chosen 2 KiB blocks of chosen
// files unreadable, as a scratched disc's sectors are: a read() that touches one fails with EIO
// as a whole, as a drive fails a request. CORVANE_TEST_UNREADABLE holds one line per file:
// its absolute path (as /proc/self/fd shows it), a tab, and the block numbers, comma-separated.

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr int kMaxFiles = 8;
constexpr int kMaxBlocks = 64;
constexpr std::uint64_t kBlock = 2048;

struct UnreadableFile {
    char path[4096];
    std::uint64_t blocks[kMaxBlocks];
    int count;
};

UnreadableFile files[kMaxFiles];
int fileCount = -1;  // -1 until the variable is read

void ReadSetting() {
    fileCount = 0;
    const char* setting = getenv("CORVANE_TEST_UNREADABLE");
    while (setting && *setting && fileCount < kMaxFiles) {
        const char* tab = strchr(setting, '\t');
        if (!tab || static_cast<std::size_t>(tab - setting) >= sizeof files[0].path) return;
        UnreadableFile& file = files[fileCount++];
        memcpy(file.path, setting, static_cast<std::size_t>(tab - setting));
        file.path[tab - setting] = '\0';
        file.count = 0;
        char* next = nullptr;
        for (const char* at = tab + 1; file.count < kMaxBlocks; at = next + 1) {
            file.blocks[file.count++] = strtoull(at, &next, 10);
            if (*next != ',') break;
        }
        setting = strchr(next, '\n');
        if (setting) ++setting;
    }
}

// Whether reading n bytes at fd's position touches an unreadable block.
bool Touches(int fd, std::size_t n) {
    if (fileCount < 0) ReadSetting();
    if (fileCount == 0 || n == 0) return false;
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0) return false;
    path[length] = '\0';
    for (int i = 0; i < fileCount; ++i) {
        if (strcmp(path, files[i].path) != 0) continue;
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at < 0) return false;
        const std::uint64_t first = static_cast<std::uint64_t>(at) / kBlock;
        const std::uint64_t last = (static_cast<std::uint64_t>(at) + n - 1) / kBlock;
        for (int b = 0; b < files[i].count; ++b)
            if (files[i].blocks[b] >= first && files[i].blocks[b] <= last) return true;
    }
    return false;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t n) {
    using Read = ssize_t (*)(int, void*, std::size_t);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    if (Touches(fd, n)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, n);
}
