// The portable restorer as a user meets it on a PC where nothing is installed: a disc made by
// the program, taken apart by a peer tool into an otherwise empty root, and the restorer run
// inside that root with chroot (no libraries, no shell) to list the backup and restore it.

#include <gtest/gtest.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "disc/DiscPayload.h"
#include "support/PeerTools.h"
#include "support/ScratchFolder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::ScratchFolder;

constexpr int kChrootRefused = 77;

struct Outcome {
    int status = -1;
    std::string output;
};

// Runs the program at / of root (a path inside it) with args, as root's only world.
Outcome RunInsideRoot(const std::string& root, const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        if (::chroot(root.c_str()) != 0 || ::chdir("/") != 0) ::_exit(kChrootRefused);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        char* const environment[] = {const_cast<char*>("HOME=/home"), nullptr};
        ::execve(argv[0], argv.data(), environment);
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    Outcome outcome;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

// Whether an ELF executable asks for a program interpreter or has a dynamic section: either
// means it needs shared libraries.
bool IsStaticExecutable(const std::string& path) {
    const std::string bytes = test::ReadWholeFile(path);
    if (bytes.size() < sizeof(Elf64_Ehdr)) return false;
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_machine != EM_X86_64 || header.e_type != ET_EXEC)
        return false;
    for (int i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        const std::size_t at = header.e_phoff + static_cast<std::size_t>(i) * header.e_phentsize;
        if (at + sizeof segment > bytes.size()) return false;
        std::memcpy(&segment, bytes.data() + at, sizeof segment);
        if (segment.p_type == PT_INTERP || segment.p_type == PT_DYNAMIC) return false;
    }
    return true;
}

std::map<std::string, std::string> FilesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files[fs::relative(entry.path(), folder).string() + (entry.is_directory() ? "/" : "")] =
            entry.is_directory() ? "" : test::ReadWholeFile(entry.path().string());
    return files;
}

TEST(PortableRestorer, IsStaticAndWithinTheBudgetOfEachDisc) {
    EXPECT_TRUE(IsStaticExecutable(CORVANE_RESTORER_PATH));
    EXPECT_FALSE(IsStaticExecutable(CORVANE_BINARY_PATH));  // the check tells them apart
    EXPECT_LE(fs::file_size(CORVANE_RESTORER_PATH), 3u << 20);
}

TEST(PortableRestorer, ListsAndRestoresADiscInsideARootWithNothingElse) {
    ScratchFolder source, images, root;
    source.WriteFile("Mes documents/lettre à Anne.txt", test::SampleBytes(30000, 1));
    source.WriteFile("Mes documents/2008/plan.bin", test::SampleBytes(200000, 2));
    source.WriteFile("top.txt", "top\n");
    source.MakeFolder("vide");

    QProcess backup;
    backup.start(QStringLiteral(CORVANE_BINARY_PATH),
                 {QStringLiteral("backup"), QString::fromStdString(source.path()), QStringLiteral("--images"),
                  QString::fromStdString(images.path()), QStringLiteral("--capacity"), QStringLiteral("cd"),
                  QStringLiteral("--yes")});
    ASSERT_TRUE(backup.waitForFinished(120000));
    ASSERT_EQ(backup.exitCode(), 0) << backup.readAll().toStdString();
    const std::vector<std::string> discs = test::FolderNames(images.path());
    ASSERT_EQ(discs.size(), 1u);

    test::ExtractWithXorriso(images / discs[0], root / "disc");
    // xorriso keeps the Rock Ridge modes: the programs and the script run from a mounted disc,
    // nothing else does.
    const std::set<std::string> executables = {"corvane.exe", "corvane-restore", "autorun.sh"};
    std::set<std::string> found;
    for (const std::string& name : test::FolderNames(root / "disc")) {
        const auto mode = static_cast<unsigned>(fs::status(root / ("disc/" + name)).permissions()) & 07777u;
        EXPECT_EQ(mode, executables.contains(name) ? 0755u : 0444u) << name;
        if (executables.contains(name)) found.insert(name);
    }
    EXPECT_EQ(found, executables);
    EXPECT_TRUE(IsStaticExecutable(root / "disc/corvane-restore"));
    EXPECT_EQ(test::ReadWholeFile(root / "disc/corvane-restore"), test::ReadWholeFile(CORVANE_RESTORER_PATH));
    EXPECT_EQ(test::ReadWholeFile(root / "disc/corvane.exe"), test::ReadWholeFile(CORVANE_BINARY_PATH));
    EXPECT_EQ(test::ReadWholeFile(root / "disc/autorun.inf"), kAutorunText);
    EXPECT_EQ(test::ReadWholeFile(root / "disc/autorun.sh"), kAutorunScript);
    fs::create_directories(root / "home");

    const Outcome list = RunInsideRoot(root.path(), {"/disc/corvane-restore", "list", "/disc"});
    if (list.status == kChrootRefused) GTEST_SKIP() << "chroot is not permitted here";
    ASSERT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("lettre à Anne.txt"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("plan.bin"), std::string::npos) << list.output;

    const Outcome restore =
        RunInsideRoot(root.path(), {"/disc/corvane-restore", "restore", "/disc", "--to", "/home/back"});
    ASSERT_EQ(restore.status, 0) << restore.output;
    EXPECT_EQ(FilesBelow(root / "home/back"), FilesBelow(source.path()));
}

}  // namespace
}  // namespace corvane
