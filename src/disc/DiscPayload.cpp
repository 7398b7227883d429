#include "disc/DiscPayload.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace corvane {

namespace {

constexpr std::size_t kPieceSize = 4096;

// The program's path, for the status line: what a link such as /proc/self/exe points at.
std::string ExecutablePath(const std::string& program) {
    char buffer[4096];
    ssize_t n = ::readlink(program.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return program;
    return std::string(buffer, static_cast<std::size_t>(n));
}

Status Report(BackupHost& host, const std::string& discName, const Status& failure) {
    Message message;
    message.text = "Cannot put " + discName + " on the disc.\n" + failure.message();
    host.Ask(message);
    return failure;
}

// Creates the staging file `name` in the host's temporary folder and lists it in stagedFiles.
Status CreateStagingFile(BackupHost& host, const std::string& name, std::string& path,
                         std::unique_ptr<File>& file) {
    Status s = host.tempFolder.Create();
    if (!s.ok()) return s;
    path = host.tempFolder.path() + "/" + name;
    s = host.files->OpenWrite(path, file);
    if (s.ok()) host.stagedFiles.push_back(path);
    return s;
}

// Copies `source` into a new staging file in pieces, counting each piece in both totals,
// until the end or until cancelRequested is set.
Status CopyToStaging(BackupHost& host, const std::string& source, const std::string& name,
                     std::string& path) {
    std::unique_ptr<File> out;
    Status s = CreateStagingFile(host, name, path, out);
    if (!s.ok()) return s;
    std::unique_ptr<File> in;
    s = host.files->OpenRead(source, in);
    if (!s.ok()) return s;
    char piece[kPieceSize];
    while (!host.cancelRequested) {
        std::size_t got = 0;
        s = in->Read(piece, sizeof piece, got);
        if (!s.ok()) return s;
        if (got == 0) break;
        s = out->Write(piece, got);
        if (!s.ok()) return s;
        host.bytesRead += got;
        host.bytesWritten += got;
        host.ShowCounters(host.bytesRead, host.bytesWritten);
    }
    s = out->Close();
    if (!s.ok()) return s;
    if (host.cancelRequested) return Status(Status::Code::Cancelled, "Cancelled");
    return Status::Ok();
}

// Copies `source` to the staging file `stagingName` and adds it to the image as `discName`.
Status Stage(BackupHost& host, IJolietDiscMaster& joliet, const std::string& source,
             const std::string& stagingName, const std::string& discName, bool executable) {
    std::string path;
    Status s = CopyToStaging(host, source, stagingName, path);
    if (s.code() == Status::Code::Cancelled) return s;
    if (s.ok()) s = joliet.AddData({discName, path, true, executable}, false);
    if (!s.ok()) return Report(host, discName, s);
    return s;
}

// Writes `text` to a staging file named like the disc file, then stages it as the others.
Status StageText(BackupHost& host, IJolietDiscMaster& joliet, const char* text,
                 const std::string& stagingName, const std::string& discName, bool executable) {
    std::string path;
    std::unique_ptr<File> file;
    Status s = CreateStagingFile(host, discName, path, file);
    if (s.ok()) s = file->Write(text, std::strlen(text));
    if (s.ok()) s = file->Close();
    if (!s.ok()) return Report(host, discName, s);
    host.SetStatus(path);
    return Stage(host, joliet, path, stagingName, discName, executable);
}

}  // namespace

// Pure POSIX sh using builtins only, so that it runs wherever a desktop offers to run it; the
// folder comes from $0, every path is quoted (mount points hold spaces).
const char* const kAutorunScript = R"(#!/bin/sh
# Restores the backup on this disc: with the disc's own Corvane when it runs here, else with
# the installed one, else with the portable restorer in a terminal.
case "$0" in */*) disc=${0%/*} ;; *) disc=. ;; esac
disc=$(cd -- "$disc" && pwd) || exit 1
restorer="$disc/corvane-restore"
if "$disc/corvane.exe" help >/dev/null 2>&1; then exec "$disc/corvane.exe" browse "$disc"; fi
if command -v corvane >/dev/null 2>&1; then exec corvane browse "$disc"; fi
for t in x-terminal-emulator:-e gnome-terminal:-- konsole:-e xfce4-terminal:-x mate-terminal:-x xterm:-e
do
    if command -v "${t%%:*}" >/dev/null 2>&1; then exec "${t%%:*}" "${t#*:}" "$restorer"; fi
done
echo "To restore the backup on this disc, run this in a terminal:"
echo "  \"$restorer\""
)";

Status StageSelfCopy(BackupHost& host, IJolietDiscMaster& joliet) {
    host.SetStatus(ExecutablePath(host.programPath));
    return Stage(host, joliet, host.programPath, "corvaneex.mcb", "corvane.exe", true);
}

Status StageAutorun(BackupHost& host, IJolietDiscMaster& joliet) {
    return StageText(host, joliet, kAutorunText, "autorun.mcb", "autorun.inf", false);
}

Status StageAutorunScript(BackupHost& host, IJolietDiscMaster& joliet) {
    return StageText(host, joliet, kAutorunScript, "autorunsh.mcb", "autorun.sh", true);
}

std::string RestorerBeside(const std::string& program) {
    return std::filesystem::path(ExecutablePath(program)).replace_filename("corvane-restore").string();
}

Status StageRestorer(BackupHost& host, IJolietDiscMaster& joliet) {
    const std::string restorer = RestorerBeside(host.programPath);
    FileInfo info;
    if (!host.files->Stat(restorer, info).ok()) {
        if (!host.restorerMissingTold) {
            host.restorerMissingTold = true;
            host.Ask({"The portable restorer (" + restorer +
                          ") was not found, so the discs will not carry it. They restore with "
                          "Corvane itself. The backup goes on.",
                      MessageIcon::Information, MessageButtons::Ok});
        }
        return Status::Ok();
    }
    host.SetStatus(restorer);
    return Stage(host, joliet, restorer, "restorer.mcb", "corvane-restore", true);
}

}  // namespace corvane
