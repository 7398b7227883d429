#pragma once
// The backup set as the newest catalogue present knows it: every stream of the discs it
// describes, with its files, so that folders on discs that are not present can be shown and
// named, and restored files checked against their content checksums.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/SetCatalogueFormat.h"
#include "extract/ExtractHost.h"
#include "platform/FileLayer.h"

namespace corvane {

struct KnownStream {
    CatalogueStream stream;
    std::vector<CatalogueFile> files;
};

struct KnownSet {
    CatalogueBackup backup;
    std::vector<KnownStream> streams;
};

// Reads the catalogues found and keeps, for each backup, the whole one that describes the most
// discs; smaller ones are not read once a larger one is whole. A catalogue that cannot be read, is damaged, or names another backup than its file
// name does is named in problems, and its backup is read from its streams without it.
std::vector<KnownSet> ReadNewestCatalogues(FileSystem& files, const std::vector<std::string>& cataloguePaths,
                                           std::vector<std::string>& problems);

// Adds the sets found to those known: a set replaces the one of its backup it knows as much as.
// A window that looks again after a disc change so keeps what a newer disc told it.
void KeepNewest(std::vector<KnownSet>& known, std::vector<KnownSet> found);

// Whether a catalogue's stream is encrypted: its folder path is then its key's parameters, and
// its files carry no content checksum.
bool IsSealedStream(const CatalogueStream& stream);

// The streams of the sets that are not among present (by file name), in the sets' order.
std::vector<const KnownStream*> AbsentStreams(const std::vector<KnownSet>& sets,
                                              const std::vector<std::string>& presentStreamPaths);

// The discs that the streams present lie on, as the catalogues place them: backup name and disc.
using GivenDiscs = std::set<std::pair<std::string, std::uint32_t>>;
GivenDiscs DiscsGiven(const std::vector<KnownSet>& sets, const std::vector<std::string>& presentStreamPaths);

// Whether the disc that holds known was given (and so lacks it).
bool OnGivenDisc(const KnownStream& known, const GivenDiscs& given);

// One line per disc that holds an absent stream: "disc 2 of DATA 0812251430 is not among the
// places given"; for a disc that was given, one line per stream it lacks.
std::vector<std::string> AbsentDiscMessages(const std::vector<const KnownStream*>& absent, const GivenDiscs& given);

// The set's stream numbered last, or null when it has none.
const KnownStream* LastStream(const KnownSet& set);

// When the set's newest catalogue says more discs follow and no later stream of its backup is
// present: "disc 3 of DATA 0812251430 is not among the places given: the backup goes on after
// disc 2"; else "". A later disc present with a gap before it shows as missing streams.
std::string FollowingDiscMessage(const KnownSet& set, const std::vector<std::string>& presentStreamPaths);

// The files the catalogues of the sets list, by stream file name and record.
ListedStreams ListedStreamsOf(const std::vector<KnownSet>& sets);

// What a restore misses of a stream on a disc that is not present: one line for each of its files
// that keep accepts ("Docs\r.txt is on disc 2, which was not given"), or one for the whole folder
// when it is protected or encrypted, since its files are not shown ("<protected> is on disc 2, ...").
// onGivenDisc: the disc was given but lacks the stream ("... is in X.cvn, which is missing from disc 2").
std::vector<std::string> NotGivenLines(const KnownStream& known, const std::function<bool(const CatalogueFile&)>& keep,
                                       bool onGivenDisc = false);

// NotGivenLines for the streams chosen by file name, in the sets' order: each with the record
// offsets of its files chosen, or with none for all of them.
std::vector<std::string> NotGivenLines(const std::vector<KnownSet>& sets,
                                       const std::map<std::string, std::set<std::uint64_t>>& chosen);

}  // namespace corvane
