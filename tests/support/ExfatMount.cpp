#include "support/ExfatMount.h"

#include <unistd.h>

#include <QProcess>
#include <filesystem>

namespace corvane::test {

namespace {

// Runs a program to its end: true with its standard output, else false with why it failed.
bool Run(const QString& program, const QStringList& args, std::string& output, std::string& why) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        why = program.toStdString() + " failed: " + process.readAllStandardError().trimmed().toStdString() +
              process.errorString().toStdString();
        return false;
    }
    output = process.readAllStandardOutput().trimmed().toStdString();
    return true;
}

}  // namespace

ExfatMount::ExfatMount() {
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
        why_ = "mounting needs root and /dev/fuse";
        return;
    }
    const std::string image = scratch_ / "exfat.img";
    std::filesystem::create_directory(path());
    std::string output;
    std::filesystem::resize_file(scratch_.WriteFile("exfat.img", ""), 16 << 20);
    if (!Run("mkfs.exfat", {QString::fromStdString(image)}, output, why_)) return;
    if (!Run("losetup", {"--find", "--show", QString::fromStdString(image)}, loopDevice_, why_)) return;
    mounted_ = Run("mount.exfat-fuse", {QString::fromStdString(loopDevice_), QString::fromStdString(path())}, output, why_);
}

ExfatMount::~ExfatMount() {
    std::string output, why;
    if (mounted_) Run("fusermount", {"-u", QString::fromStdString(path())}, output, why);
    if (!loopDevice_.empty()) Run("losetup", {"-d", QString::fromStdString(loopDevice_)}, output, why);
}

}  // namespace corvane::test
