#include "disc/ImageChecksum.h"

#include <memory>

#include "disc/DiscLibrary.h"
#include "disc/IsoBurn.h"
#include "platform/FileLayer.h"

namespace corvane {

namespace {

constexpr std::uint64_t kBlock = 2048;
constexpr std::uint64_t kBlocksPerRead = 512;

struct ImageRelease {
    void operator()(IsoImage* image) const { iso_image_unref(image); }
};

// The session's recorded sum and the blocks it covers: found false when none is recorded.
Status RecordedSum(const std::string& imagePath, bool& found, std::uint32_t& start, std::uint32_t& end,
                   char md5[16]) {
    DiscLibrary::Lock lock;
    IsoImage* raw = nullptr;
    if (iso_image_new("", &raw) < 0) return Status(Status::Code::Unavailable, "libisofs cannot make an image");
    std::unique_ptr<IsoImage, ImageRelease> image(raw);
    IsoDataSource* source = nullptr;
    int result = iso_data_source_new_from_file(imagePath.c_str(), &source);
    IsoReadOpts* options = nullptr;
    if (result >= 0) result = iso_read_opts_new(&options, 0);
    if (result >= 0) {
        iso_read_opts_set_no_aaip(options, 0);  // where the sums lie is an AAIP attribute
        iso_read_opts_set_no_md5(options, 2);   // load the sums; the blocks are compared below
        IsoReadImageFeatures* features = nullptr;
        result = iso_image_import(image.get(), source, options, &features);
        if (features) iso_read_image_features_destroy(features);
        iso_read_opts_free(options);
    }
    if (source) iso_data_source_unref(source);
    if (result < 0)
        return Status(Status::Code::Corrupt, std::string("its ISO 9660 volume cannot be read: ") + iso_error_to_msg(result));
    result = iso_image_get_session_md5(image.get(), &start, &end, md5, 0);
    found = result == 1;
    return Status::Ok();
}

}  // namespace

Status CheckImageChecksum(const std::string& imagePath, bool& recorded, const std::atomic<int>* cancel) {
    DiscLibrary::User library;
    recorded = false;
    std::uint32_t start = 0, end = 0;
    char expected[16] = {};
    Status s = RecordedSum(imagePath, recorded, start, end, expected);
    if (!s.ok() || !recorded) return s;

    std::unique_ptr<File> in;
    s = DefaultFileSystem().OpenRead(imagePath, in);
    if (s.ok()) s = in->Seek(static_cast<std::int64_t>(start * kBlock), SeekFrom::Start);
    if (!s.ok()) return s;
    void* context = nullptr;
    if (iso_md5_start(&context) < 0) return Status(Status::Code::Unavailable, "libisofs cannot compute MD5 sums");
    std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kBlock * kBlocksPerRead);
    for (std::uint64_t block = start; s.ok() && block < end;) {
        if (cancel && cancel->load()) {
            s = Status(Status::Code::Cancelled, "the check was cancelled");
            break;
        }
        const std::uint64_t n = std::min<std::uint64_t>(kBlocksPerRead, end - block) * kBlock;
        std::size_t got = 0;
        s = in->ReadFull(buffer.get(), n, got);
        if (s.ok() && got < n)
            s = Status(Status::Code::Corrupt, "the image ends before the last block its MD5 sum covers (it was cut short)");
        if (s.ok()) iso_md5_compute(context, buffer.get(), static_cast<int>(n));
        block += n / kBlock;
    }
    char actual[16] = {};
    iso_md5_end(&context, actual);
    if (!s.ok()) return s;
    if (!iso_md5_match(expected, actual))
        return Status(Status::Code::Corrupt, "its blocks do not match the MD5 sum recorded for its session");
    return Status::Ok();
}

}  // namespace corvane
