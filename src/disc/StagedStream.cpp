#include "disc/StagedStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace corvane {

namespace {

// libisofs.h hides its stream struct from C++ (one member is named "class"); this has the
// same layout.
struct StreamLayout {
    IsoStreamIface* iface;
    int refcount;
    void* data;
};

// libisofs reads a file 2 KiB a call; the staged copy is read in larger pieces.
constexpr std::size_t kReadAhead = 128 * 1024;

struct StagedData {
    std::string path;
    off_t size = 0;
    ino_t serial = 0;
    int fd = -1;
    off_t read = 0;  // handed out since it was opened
    // While open: what was read from the file and not yet handed out.
    std::unique_ptr<char[]> ahead;
    std::size_t aheadStart = 0;
    std::size_t aheadEnd = 0;
};

StagedData& DataOf(IsoStream* stream) {
    return *static_cast<StagedData*>(reinterpret_cast<StreamLayout*>(stream)->data);
}

int OpenStaged(IsoStream* stream) {
    StagedData& data = DataOf(stream);
    if (data.fd >= 0) return static_cast<int>(ISO_FILE_ALREADY_OPENED);
    data.ahead.reset(new (std::nothrow) char[kReadAhead]);
    if (!data.ahead) return static_cast<int>(ISO_OUT_OF_MEM);
    data.fd = ::open(data.path.c_str(), O_RDONLY | O_CLOEXEC);
    data.read = 0;
    data.aheadStart = data.aheadEnd = 0;
    if (data.fd < 0) data.ahead.reset();
    return data.fd >= 0 ? 1 : static_cast<int>(ISO_FILE_ERROR);
}

int CloseStaged(IsoStream* stream) {
    StagedData& data = DataOf(stream);
    if (data.fd < 0) return static_cast<int>(ISO_FILE_NOT_OPENED);
    ::close(data.fd);
    data.fd = -1;
    data.ahead.reset();
    return 1;
}

off_t SizeOfStaged(IsoStream* stream) { return DataOf(stream).size; }

// Fills buffer as far as the file goes: 0 at its end, an error when it cannot be read or
// ends before the size it had when it was added (libisofs would pad it with zeros).
int ReadStaged(IsoStream* stream, void* buffer, std::size_t count) {
    StagedData& data = DataOf(stream);
    if (data.fd < 0) return static_cast<int>(ISO_FILE_NOT_OPENED);
    std::size_t done = 0;
    while (done < count) {
        if (data.aheadStart == data.aheadEnd) {
            const ssize_t got = ::read(data.fd, data.ahead.get(), kReadAhead);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return static_cast<int>(ISO_FILE_READ_ERROR);
            if (got == 0) break;
            data.aheadStart = 0;
            data.aheadEnd = static_cast<std::size_t>(got);
        }
        const std::size_t piece = std::min(count - done, data.aheadEnd - data.aheadStart);
        std::memcpy(static_cast<char*>(buffer) + done, data.ahead.get() + data.aheadStart, piece);
        data.aheadStart += piece;
        done += piece;
    }
    data.read += static_cast<off_t>(done);
    if (done < count && data.read < data.size) return static_cast<int>(ISO_FILE_READ_ERROR);
    return static_cast<int>(done);
}

int StagedIsRepeatable(IsoStream*) { return 1; }

// Ids of libisofs's own serial numbers (file system and device 0), so no two streams of an
// image are ever taken for the same file.
void IdOfStaged(IsoStream* stream, unsigned int* fsId, dev_t* devId, ino_t* inoId) {
    *fsId = 0;
    *devId = 0;
    *inoId = DataOf(stream).serial;
}

void FreeStaged(IsoStream* stream) {
    StagedData* data = &DataOf(stream);
    if (data->fd >= 0) ::close(data->fd);
    delete data;
}

IsoStreamIface stagedInterface = {0,         {'c', 'v', 'n', 's'}, OpenStaged, CloseStaged, SizeOfStaged,
                                  ReadStaged, StagedIsRepeatable,  IdOfStaged, FreeStaged,  nullptr,
                                  nullptr,   nullptr,              nullptr};

}  // namespace

Status AddStagedFile(IsoDir* parent, const std::string& name, const std::string& path, IsoNode** node) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return Status::FromErrno(errno, "Cannot add " + path);
    // libisofs frees a stream with free() once its last reference goes.
    auto* stream = static_cast<StreamLayout*>(std::calloc(1, sizeof(StreamLayout)));
    auto* data = new (std::nothrow) StagedData{path, info.st_size, serial_id++, -1, 0, nullptr, 0, 0};
    if (!stream || !data) {
        std::free(stream);
        delete data;
        return Status(Status::Code::IoError, "Out of memory adding \"" + name + "\" to the disc image");
    }
    *stream = {&stagedInterface, 1, data};
    IsoFile* file = nullptr;
    const int added = iso_tree_add_new_file(parent, name.c_str(), reinterpret_cast<IsoStream*>(stream), &file);
    if (added < 0) {
        iso_stream_unref(reinterpret_cast<IsoStream*>(stream));
        return Status(Status::Code::IoError,
                      "Cannot add \"" + name + "\" to the disc image: " + iso_error_to_msg(added));
    }
    auto* addedNode = reinterpret_cast<IsoNode*>(file);
    iso_node_set_mtime(addedNode, info.st_mtime);
    iso_node_set_atime(addedNode, info.st_atime);
    iso_node_set_ctime(addedNode, info.st_ctime);
    if (node) *node = addedNode;
    return Status::Ok();
}

}  // namespace corvane
