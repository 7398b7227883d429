#include "archive/SetCatalogueReader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/LittleEndian.h"

namespace corvane {

namespace {

// No record of this format comes near this; a longer one is damage, not a reason to allocate.
constexpr std::uint32_t kMaxRecordPayload = 1 << 20;
constexpr std::size_t kReadSize = 1 << 16;

Status Damaged(const std::string& why) { return Status(Status::Code::Corrupt, "The catalogue is damaged: " + why); }

std::string Ordinal(std::uint64_t index) { return "record " + std::to_string(index + 1); }

// The file's bytes in order, read in large pieces.
class ByteSource {
public:
    explicit ByteSource(File& in) : in_(in), buffer_(kReadSize) {}

    // Up to n bytes; got < n only at the end of the file.
    Status Take(unsigned char* out, std::size_t n, std::size_t& got) {
        got = 0;
        while (got < n) {
            if (position_ == end_) {
                Status s = in_.Read(buffer_.data(), buffer_.size(), end_);
                position_ = 0;
                if (!s.ok()) return s;
                if (end_ == 0) return Status::Ok();
            }
            const std::size_t part = std::min(n - got, end_ - position_);
            std::memcpy(out + got, buffer_.data() + position_, part);
            position_ += part;
            got += part;
        }
        return Status::Ok();
    }

private:
    File& in_;
    std::vector<unsigned char> buffer_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
};

// Fields of one record's payload, taken in order; a field that does not fit sets short_.
class Fields {
public:
    explicit Fields(const std::string& payload) : payload_(payload) {}

    template <typename T>
    T Number() {
        if (!Has(sizeof(T))) return T{};
        T value = GetLittleEndian<T>(Bytes() + at_);
        at_ += sizeof(T);
        return value;
    }
    Digest128 Digest() {
        Digest128 digest{};
        if (!Has(digest.size())) return digest;
        std::memcpy(digest.data(), Bytes() + at_, digest.size());
        at_ += digest.size();
        return digest;
    }
    std::string Text() {
        const auto length = Number<std::uint16_t>();
        if (!Has(length)) return {};
        std::string text = payload_.substr(at_, length);
        at_ += length;
        return text;
    }
    // Whether a field follows the last one taken: a field later versions added.
    bool More() const { return !short_ && at_ < payload_.size(); }
    // Whether every field taken was there; bytes after them are a later version's.
    bool whole() const { return !short_; }

private:
    const unsigned char* Bytes() const { return reinterpret_cast<const unsigned char*>(payload_.data()); }
    bool Has(std::size_t n) {
        if (short_ || payload_.size() - at_ < n) short_ = true;
        return !short_;
    }

    const std::string& payload_;
    std::size_t at_ = 0;
    bool short_ = false;
};

}  // namespace

Status ReadSetCatalogue(File& in, CatalogueVisitor& visitor) {
    ByteSource source(in);
    ContentHash hash;
    unsigned char header[kCatalogueHeaderSize];
    std::size_t got = 0;
    Status s = source.Take(header, sizeof header, got);
    if (!s.ok()) return s;
    if (got < sizeof header || std::memcmp(header, kCatalogueMagic, sizeof kCatalogueMagic) != 0)
        return Status(Status::Code::InvalidArgument, "This is not a catalogue of a backup");
    const std::uint32_t version = GetU32(header + sizeof kCatalogueMagic);
    if (version > kCatalogueVersion)
        return Status(Status::Code::NotImplemented, "The catalogue was made by a newer version of the program (format " +
                                                        std::to_string(version) + ")");
    hash.Update(header, sizeof header);

    bool inStream = false;
    std::uint32_t discs = 0;
    std::uint64_t streams = 0;
    std::string payload;
    for (std::uint64_t index = 0;; ++index) {
        unsigned char head[kCatalogueRecordHead];
        s = source.Take(head, sizeof head, got);
        if (!s.ok()) return s;
        if (got < sizeof head) return Damaged("it ends before its closing record");
        const auto type = static_cast<CatalogueRecord>(head[0]);
        const std::uint32_t length = GetU32(head + 1);
        if (length > kMaxRecordPayload) return Damaged(Ordinal(index) + " is too long");
        payload.resize(length);
        s = source.Take(reinterpret_cast<unsigned char*>(payload.data()), length, got);
        if (!s.ok()) return s;
        if (got < length) return Damaged(Ordinal(index) + " is cut short");
        hash.Update(head, sizeof head);
        Fields fields(payload);

        if (index == 0 && type != CatalogueRecord::Backup) return Damaged("it does not start with the backup's record");
        switch (type) {
            case CatalogueRecord::Backup: {
                if (index != 0) return Damaged(Ordinal(index) + " names the backup a second time");
                CatalogueBackup backup;
                backup.time = fields.Number<std::int64_t>();
                backup.discs = fields.Number<std::uint32_t>();
                backup.name = fields.Text();
                if (fields.More()) backup.moreDiscsFollow = (fields.Number<std::uint8_t>() & 1) != 0;
                if (!fields.whole()) return Damaged(Ordinal(index) + " (the backup) is too short");
                discs = backup.discs;
                visitor.OnBackup(backup);
                break;
            }
            case CatalogueRecord::Stream: {
                CatalogueStream stream;
                stream.sequence = fields.Number<std::uint32_t>();
                stream.disc = fields.Number<std::uint32_t>();
                stream.isProtected = (fields.Number<std::uint8_t>() & 1) != 0;
                stream.size = fields.Number<std::uint64_t>();
                stream.checksum = fields.Digest();
                stream.name = fields.Text();
                stream.folderPath = fields.Text();
                if (!fields.whole()) return Damaged(Ordinal(index) + " (a stream) is too short");
                inStream = true;
                ++streams;
                visitor.OnStream(stream);
                break;
            }
            case CatalogueRecord::File: {
                if (!inStream) return Damaged(Ordinal(index) + " (a file) comes before any stream");
                CatalogueFile file;
                file.recordOffset = fields.Number<std::uint64_t>();
                file.size = fields.Number<std::uint64_t>();
                file.created = fields.Number<std::int64_t>();
                file.modified = fields.Number<std::int64_t>();
                file.checksum = fields.Digest();
                file.name = fields.Text();
                if (!fields.whole()) return Damaged(Ordinal(index) + " (a file) is too short");
                visitor.OnFile(file);
                break;
            }
            case CatalogueRecord::End: {
                const auto records = fields.Number<std::uint64_t>();
                const Digest128 stored = fields.Digest();
                if (!fields.whole()) return Damaged("its closing record is too short");
                hash.Update(payload.data(), sizeof records);  // the checksum covers the count
                if (stored != hash.Digest()) return Damaged("its checksum does not match");
                if (records != index) return Damaged("its count of records does not match");
                // Every disc but the last holds a stream: a count beyond that is made up, and
                // readers that list the discs must not trust it.
                if (discs == 0 || discs > streams + 1)
                    return Damaged("it claims " + std::to_string(discs) + " discs for " + std::to_string(streams) +
                                   " streams");
                unsigned char after = 0;
                s = source.Take(&after, 1, got);
                if (!s.ok()) return s;
                if (got != 0) return Damaged("bytes follow its closing record");
                return Status::Ok();
            }
            default:
                break;  // a record of a later version
        }
        hash.Update(payload.data(), payload.size());
    }
}

}  // namespace corvane
