#pragma once
// Backs up a folder tree, one stream per folder in depth-first pre-order: each folder's
// stream is staged in a private file, added to the disc image and deleted; when the disc is
// full it is recorded, the user is asked for another one, and the stream goes onto the next.

#include <memory>
#include <string>

#include "archive/BackupKey.h"
#include "archive/ChunkPipeline.h"
#include "archive/SetCatalogueWriter.h"
#include "backup/BackupHost.h"
#include "disc/DiscMaster.h"

namespace corvane {

struct ArchiveContext {
    BackupHost& host;
    IJolietDiscMaster& joliet;
    IDiscMaster& discMaster;
    std::shared_ptr<IDiscRecorder> recorder;
    std::string sourceRoot;  // the drive's mount point; stored paths are relative to it
    std::string backupName;
    int sequence = 0;  // the next stream's number; runs on across discs
    ChunkPipeline& pipeline;  // compresses on every core while earlier streams are written
    SetCatalogueWriter& catalogue;  // every stream that reached a disc, with its files
    bool failed = false;      // the job was stopped by a failure, not by the user
    std::uint32_t disc = 1;   // the number of the disc being filled
    // The backup's key when it is encrypted: every stream is then sealed (see BackupKey.h).
    std::shared_ptr<const BackupKey> key;
};

// Archives folderPath (the source root or a folder below it) and everything under it.
// Sets host.cancelRequested when the job has to stop, and context.failed too when a failure
// rather than the user stops it; files and folders it had to leave out are added to
// host.leftOut.
void ArchiveFolder(ArchiveContext& context, const std::string& folderPath);

// Adds the catalogue of discs 1 to context.disc to the disc being filled, as the last file
// before it is recorded; every stream added kept room for it. moreDiscsFollow when the disc
// is closed because it is full. False, with the user told and the job stopped as a failure,
// when it could not be added.
bool AddCatalogueToDisc(ArchiveContext& context, bool moreDiscsFollow);

// The stored form of a folder: "\" for the root, "\Docs\2008" below it.
std::string StoredFolderPath(const std::string& sourceRoot, const std::string& folderPath);

}  // namespace corvane
