#pragma once
// Checks discs of backups: each disc (a disc image, or a mounted disc or folder) against the
// catalogue of its backup, and the backup set as the newest catalogue given knows it. The
// command line's verify and the backup job's check after recording both run it.

#include <cstdint>
#include <string>
#include <vector>

#include "archive/BackupKey.h"
#include "platform/FileLayer.h"
#include "verify/LoadedCatalogue.h"
#include "verify/StreamCheck.h"

namespace corvane {

// One damaged item of a disc: a stream, or a file of one, and what is wrong.
struct DiscDamage {
    std::string stream;  // the stream's file name, or empty for the disc as a whole
    std::string file;    // the stored file name, or empty for the stream as a whole
    std::string why;
};

struct DiscReport {
    std::string place;       // the disc's path (an image file, or a folder)
    std::string backupName;  // empty when nothing on the disc names its backup
    // When the backup was made, from the catalogue the disc was checked against (0 without
    // one): two backups of one drive in the same minute share their name, never their time.
    std::int64_t backupTime = 0;
    std::uint32_t disc = 0;  // its number in the set, 0 when no catalogue tells
    // How the disc was checked: "against its catalogue", "against the catalogue of disc 3",
    // or "without a catalogue: every chunk decodes and the layout is whole".
    std::string checkedAs;
    std::uint64_t streams = 0;
    std::uint64_t files = 0;
    std::uint64_t lockedStreams = 0;  // encrypted streams that no password given opened
    // An image file's session MD5 sum: "matches", "none recorded", or empty for a folder or a
    // mismatch (which is damage).
    std::string imageChecksum;
    std::vector<DiscDamage> damage;
    // Said about the check, not damage: encrypted folders checked as far as possible.
    std::vector<std::string> notes;

    bool good() const { return damage.empty(); }
};

// A backup set as the newest catalogue given describes it.
struct SetReport {
    std::string backupName;
    std::int64_t backupTime = 0;         // 0 without a catalogue
    // The discs the set has at least: those the newest catalogue describes, and one more when
    // it says more discs follow (continues); 0 without a catalogue.
    std::uint32_t discs = 0;
    bool continues = false;
    std::vector<std::uint32_t> missing;  // discs of it not given
    std::vector<std::string> problems;   // for a set without catalogue: gaps in its streams

    bool complete() const { return missing.empty() && problems.empty(); }
};

struct VerifyReport {
    std::vector<DiscReport> discs;
    std::vector<SetReport> sets;
    std::vector<std::string> skipped;  // places that hold no disc of a backup, with why

    bool good() const;
};

// The discs in places (disc images, mounted discs, folders holding stream files or disc
// images), each checked and then each backup set. files reads disc images as folders.
VerifyReport VerifyPlaces(FileSystem& files, const std::vector<std::string>& places, KeyRing* keys,
                          const VerifyProgress& progress);

// One disc against a catalogue its maker holds (null: its own, or none). A disc that holds a
// stream the catalogue places on another disc, or lacks one it places there, is damaged.
DiscReport VerifyDisc(FileSystem& files, const std::string& discRoot, const LoadedCatalogue* reference,
                      KeyRing* keys, const VerifyProgress& progress);

}  // namespace corvane
