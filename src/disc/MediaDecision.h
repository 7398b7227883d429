#pragma once
// What to do with the medium in an optical drive before a disc of a backup is recorded on it,
// decided from what libburn reports of it and what its first blocks hold. Plain data in, plain
// data out: the recorder gathers the facts, this decides.

#include <cstddef>
#include <optional>
#include <string>

namespace corvane {

// libburn's disc status, as far as the decision needs it.
enum class DiscState { Empty, Blank, Appendable, Full, Unusable };

struct MediumState {
    int profile = 0;  // MMC profile number as burn_disc_get_profile reports it; 0xffff a stdio file
    DiscState state = DiscState::Empty;
    bool erasable = false;     // burn_disc_erasable: a written rewritable disc can be blanked
    bool unformatted = false;  // burn_disc_get_formats says BURN_FORMAT_IS_UNFORMATTED
    // The volume name of the ISO 9660 file system at the start of the medium; nullopt when the
    // first blocks hold none.
    std::optional<std::string> volumeId;
    // What libburn said while it looked at the medium (its warnings and errors); it explains a
    // disc the drive cannot use.
    std::string driveSays;
};

enum class MediaAction {
    Write,            // record onto it as it is
    FormatThenWrite,  // format it first (a new BD-RE, DVD-RAM or DVD-RW), then record
    AskToErase,       // it holds data: record only after the user's "Erase and use this disc"
    Refuse            // cannot be used; reason says why
};

struct MediaDecision {
    MediaAction action = MediaAction::Refuse;
    // For AskToErase: blank the disc before recording (a written CD-RW or sequential DVD-RW);
    // an overwritable medium is simply written over.
    bool blankFirst = false;
    // Why it is refused, or what it holds; a sentence for the user.
    std::string reason;
};

// The volume id a disc of the backup gets: its name cut to the 32 bytes ISO 9660 allows.
std::string BackupVolumeId(const std::string& backupName);

// backupName: the backup being written, "" when not yet known. A disc that holds a volume of
// that backup is refused with its name: writing over it would lose a disc of the set.
MediaDecision DecideMedia(const MediumState& medium, const std::string& backupName);

// The volume id of an ISO 9660 primary volume descriptor (block 16 of the medium, 2048 bytes),
// trailing blanks removed; nullopt when the block is no such descriptor.
std::optional<std::string> VolumeIdOfDescriptor(const unsigned char* block, std::size_t size);

}  // namespace corvane
