#include "disc/MediaDecision.h"

#include <cstring>

#include "platform/TextCodec.h"

namespace corvane {

namespace {

constexpr int kStdioFile = 0xffff;
constexpr std::size_t kVolumeIdLength = 32;

bool IsReadOnly(int profile) { return profile == 0x08 || profile == 0x10 || profile == 0x40; }

// Media that libburn reports as blank whether or not they hold data: DVD-RAM, DVD-RW in
// restricted overwrite, DVD+RW, BD-RE, and a file behind a stdio drive.
bool IsOverwritable(int profile) {
    return profile == 0x12 || profile == 0x13 || profile == 0x1a || profile == 0x43 ||
           profile == kStdioFile;
}

// Media that cannot be written before they are formatted: DVD-RAM, BD-RE, and a DVD-RW whose
// formatting was never finished.
bool NeedsFormatting(int profile) { return profile == 0x12 || profile == 0x43 || profile == 0x13; }

// A volume id as the primary volume descriptor stores it: libisofs keeps only d-characters
// (A-Z, 0-9, _) there and writes '_' for any other byte.
std::string DCharacters(const std::string& text) {
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 'a' && byte <= 'z') byte = static_cast<unsigned char>(byte - 'a' + 'A');
        bool kept = (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '_';
        out += kept ? static_cast<char>(byte) : '_';
    }
    return out;
}

MediaDecision Refuse(std::string reason) { return {MediaAction::Refuse, false, std::move(reason)}; }

std::string Holding(const std::string& volumeId) {
    return volumeId.empty() ? "a file system without a name" : "the volume \"" + volumeId + "\"";
}

}  // namespace

std::string BackupVolumeId(const std::string& backupName) {
    std::string id = backupName.substr(0, kVolumeIdLength);
    while (!id.empty() && !IsValidUtf8(id)) id.pop_back();  // never cut inside a character
    return id;
}

MediaDecision DecideMedia(const MediumState& medium, const std::string& backupName) {
    const std::string said = medium.driveSays.empty() ? "" : " The drive says: " + medium.driveSays;
    if (medium.state == DiscState::Empty) return Refuse("There is no disc in the drive." + said);
    if (medium.state == DiscState::Unusable)
        return Refuse("The drive cannot use this disc; it may be damaged or of an unknown kind." + said);
    if (IsReadOnly(medium.profile))
        return Refuse("This is a read-only disc; it cannot be written.");
    const bool written = medium.state == DiscState::Appendable || medium.state == DiscState::Full;
    if (medium.volumeId && !backupName.empty() &&
        DCharacters(*medium.volumeId) == DCharacters(BackupVolumeId(backupName)))
        return Refuse("This disc already holds a disc of the backup \"" + backupName +
                      "\" being written; insert another disc.");

    if (IsOverwritable(medium.profile)) {
        if (medium.unformatted && NeedsFormatting(medium.profile))
            return {MediaAction::FormatThenWrite, false, "The disc is new and gets formatted first."};
        if (medium.volumeId || written)
            return {MediaAction::AskToErase, false,
                    "This disc holds " + Holding(medium.volumeId.value_or("")) + "."};
        return {MediaAction::Write, false, ""};
    }
    if (medium.state == DiscState::Blank) return {MediaAction::Write, false, ""};
    if (medium.erasable)
        return {MediaAction::AskToErase, true,
                "This rewritable disc holds " + Holding(medium.volumeId.value_or("")) + "."};
    return Refuse(medium.volumeId ? "This disc holds " + Holding(*medium.volumeId) +
                                        " and cannot be erased; insert a blank disc."
                                  : "This disc has been written already and cannot be erased; "
                                    "insert a blank disc.");
}

std::optional<std::string> VolumeIdOfDescriptor(const unsigned char* block, std::size_t size) {
    // Type 1, "CD001", version 1; the volume id is bytes 40 to 71, padded with blanks.
    if (size < 2048 || block[0] != 1 || std::memcmp(block + 1, "CD001", 5) != 0 || block[6] != 1)
        return std::nullopt;
    std::string id(reinterpret_cast<const char*>(block + 40), kVolumeIdLength);
    while (!id.empty() && (id.back() == ' ' || id.back() == '\0')) id.pop_back();
    return id;
}

}  // namespace corvane
