// The portable restorer as a user meets it on a PC where nothing is installed: a disc made by
// the program, taken apart by a peer tool into an otherwise empty root, and the restorer run
// inside that root with chroot (no libraries, no shell) to list the backup and restore it.

#include <gtest/gtest.h>
#include <elf.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "disc/DiscPayload.h"
#include "support/PeerTools.h"
#include "support/ProgramPayload.h"
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

// Backs source up with the program onto discs of `capacity` in images and takes each apart
// into discs[i]: as many discs as named.
// passwordFile: protect the backup with the password in it, when not empty.
void MakeDiscs(const std::string& source, const std::string& images, const std::string& capacity,
               const std::vector<std::string>& discs, const std::string& passwordFile = "", bool encrypt = false) {
    QStringList arguments = {QStringLiteral("backup"), QString::fromStdString(source), QStringLiteral("--images"),
                             QString::fromStdString(images), QStringLiteral("--capacity"),
                             QString::fromStdString(capacity), QStringLiteral("--yes")};
    if (!passwordFile.empty()) arguments << QStringLiteral("--password-file") << QString::fromStdString(passwordFile);
    if (encrypt) arguments << QStringLiteral("--encrypt");
    QProcess backup;
    backup.start(QStringLiteral(CORVANE_BINARY_PATH), arguments);
    ASSERT_TRUE(backup.waitForFinished(120000));
    ASSERT_EQ(backup.exitCode(), 0) << backup.readAll().toStdString();
    const std::vector<std::string> made = test::FolderNames(images);
    ASSERT_EQ(made.size(), discs.size());
    for (std::size_t i = 0; i < made.size(); ++i) test::ExtractWithXorriso(images + "/" + made[i], discs[i]);
}

void MakeDisc(const std::string& source, const std::string& images, const std::string& disc) {
    MakeDiscs(source, images, "cd", {disc});
}

// A folder bound over another in a mount namespace of the restorer's own, as a second disc
// is mounted.
struct BindMount {
    std::string folder;
    std::string at;
};

// Runs the disc's restorer without arguments on a pseudo-terminal, typing `typed` at once (the
// terminal keeps it until the restorer reads), with HOME set; returns what the terminal showed.
Outcome RunOnTerminal(const std::string& restorer, const std::string& home, const std::string& typed,
                      const std::optional<BindMount>& mount = std::nullopt) {
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        const bool mounted = !mount || (::unshare(CLONE_NEWNS) == 0 &&
                                        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                                        ::mount(mount->folder.c_str(), mount->at.c_str(), nullptr, MS_BIND, nullptr) == 0);
        if (!mounted) ::_exit(kChrootRefused);
        const std::string homeVariable = "HOME=" + home;
        char* const argv[] = {const_cast<char*>(restorer.c_str()), nullptr};
        char* const environment[] = {const_cast<char*>(homeVariable.c_str()), nullptr};
        ::execve(argv[0], argv, environment);
        ::_exit(127);
    }
    Outcome outcome;
    if (pid < 0) return outcome;
    if (::write(terminal, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) return outcome;
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    ::close(terminal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

TEST(PortableRestorer, IsStaticAndWithinTheBudgetOfEachDisc) {
    if (!CORVANE_RESTORER_STATIC) GTEST_SKIP() << "sanitizer builds link the restorer dynamically";
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

    MakeDisc(source.path(), images.path(), root / "disc");
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
    EXPECT_EQ(IsStaticExecutable(root / "disc/corvane-restore"), CORVANE_RESTORER_STATIC);
    EXPECT_EQ(test::ReadWholeFile(root / "disc/corvane-restore"), test::ReadWholeFile(CORVANE_RESTORER_PATH));
    EXPECT_EQ(test::ReadWholeFile(root / "disc/corvane.exe"), test::ReadWholeFile(CORVANE_BINARY_PATH));
    EXPECT_EQ(test::ReadWholeFile(root / "disc/autorun.inf"), kAutorunText);
    EXPECT_EQ(test::ReadWholeFile(root / "disc/autorun.sh"), kAutorunScript);
    fs::create_directories(root / "home");

    if (!CORVANE_RESTORER_STATIC) GTEST_SKIP() << "a dynamically linked restorer cannot run in an empty root";
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

// The guided restore as a user meets it: answers typed on a terminal, the files restored, the
// summary shown; bad answers asked again; Ctrl-D at a question leaves without writing.
TEST(PortableRestorer, GuidedRestoreOnATerminal) {
    ScratchFolder source, images, disc;
    source.WriteFile("Docs/notes.txt", test::SampleBytes(20000, 4));
    source.WriteFile("Docs/2008/plan.bin", test::SampleBytes(90000, 5));
    source.WriteFile("top.txt", "top\n");
    MakeDisc(source.path(), images.path(), disc / "my disc");
    const std::string label = fs::path(source.path()).filename().string();
    const std::string restorer = disc / "my disc/corvane-restore";

    struct Row {
        const char* name;
        std::string typed;          // %H stands for the home folder
        const char* filledBefore;   // a file put below home first, when not empty
        const char* restoredInto;   // below home; empty: nothing may be written
        const char* only;           // the part of the source expected there; "" for all
        std::vector<std::string> shown;
        int status;
    };
    const Row rows[] = {
        {"everything into the default folder", "\n\n\n", "", "$L", "", {"The backup $L on:", "notes.txt",
         "Restored 3 files into %H/$L", "Press Enter to close."}, 0},
        {"a folder, after a destination that is a file", "Docs\n%H/file\n~/Back up\n\n", "file", "Back up", "Docs",
         {"%H/file is not a folder.", "Restored 2 files into %H/Back up"}, 0},
        {"a non-empty folder, after a bad answer", "\n%H/full\nmaybe\ny\n\n", "full/other", "full", "",
         {"is not empty", "Please answer y or n.", "Restored 3 files into %H/full"}, 0},
        {"a name that is not in the backup, asked again", "Docs/nothing.txt\nDocs/notes.txt\n\n\n", "", "$L",
         "Docs/notes.txt", {"Nothing in the backup is named Docs/nothing.txt.", "Restored 1 file into %H/$L"}, 0},
        {"Ctrl-D at the first question", "\x04", "", "", "", {"What to restore?"}, 1},
        {"Ctrl-D at the destination", "\n\x04", "", "", "", {"Restore into which folder?"}, 1},
    };
    auto filled = [&](std::string text, const std::string& home) {
        for (std::size_t at; (at = text.find("%H")) != std::string::npos;) text.replace(at, 2, home);
        for (std::size_t at; (at = text.find("$L")) != std::string::npos;) text.replace(at, 2, label);
        return text;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder home;
        if (*row.filledBefore) home.WriteFile(row.filledBefore, "was here\n");
        const auto before = FilesBelow(home.path());
        const Outcome run = RunOnTerminal(restorer, home.path(), filled(row.typed, home.path()));
        EXPECT_EQ(run.status, row.status) << run.output;
        for (const std::string& text : row.shown)
            EXPECT_NE(run.output.find(filled(text, home.path())), std::string::npos) << text << "\n" << run.output;
        if (!*row.restoredInto) {
            EXPECT_EQ(FilesBelow(home.path()), before) << "nothing written";
            continue;
        }
        auto restored = FilesBelow(home / filled(row.restoredInto, home.path()));
        if (*row.filledBefore && std::string(row.filledBefore).starts_with(std::string(row.restoredInto) + "/"))
            restored.erase(fs::path(row.filledBefore).filename().string());
        auto expected = FilesBelow(source.path());
        if (*row.only) {
            std::map<std::string, std::string> part;
            for (const auto& [path, bytes] : expected)
                if (path.starts_with(std::string(row.only) + "/") || path == row.only ||
                    std::string(row.only).starts_with(path))  // the file, and the folders on its way
                    part[path] = bytes;
            expected = part;
        }
        EXPECT_EQ(restored, expected);
    }
}

// A protected backup, guarded or encrypted, asks for its password before it shows the tree: a
// wrong one is refused and asked again, the right one opens everything; none leaves the
// protected folders out and names them.
TEST(PortableRestorer, GuidedRestoreOfAProtectedBackupAsksForItsPassword) {
    for (bool encrypt : {false, true}) {
        SCOPED_TRACE(encrypt ? "encrypted" : "guarded");
        ScratchFolder source, images, disc, secrets;
        source.WriteFile("Docs/notes.txt", test::SampleBytes(20000, 6));
        source.WriteFile("top.txt", "top\n");
        MakeDiscs(source.path(), images.path(), "cd", {disc / "d"}, secrets.WriteFile("password", "Sesame 1\n"), encrypt);
        const std::string label = fs::path(source.path()).filename().string();
        const std::string restorer = disc / "d/corvane-restore";

        ScratchFolder home;
        const Outcome opened = RunOnTerminal(restorer, home.path(), "sesame\nSesame 1\nDocs\n\n\n");
        EXPECT_EQ(opened.status, 0) << opened.output;
        EXPECT_NE(opened.output.find("Invalid Password"), std::string::npos) << opened.output;
        EXPECT_NE(opened.output.find("notes.txt"), std::string::npos) << "the tree shows the names\n" << opened.output;
        EXPECT_EQ(test::ReadWholeFile(home / (label + "/Docs/notes.txt")), test::SampleBytes(20000, 6));

        ScratchFolder other;
        const Outcome without = RunOnTerminal(restorer, other.path(), "\n\n\n\n");
        EXPECT_EQ(without.status, 1) << without.output;
        EXPECT_NE(without.output.find("is protected and was left out"), std::string::npos) << without.output;
        EXPECT_FALSE(fs::exists(other / (label + "/Docs/notes.txt")));
    }
}

// A backup over two discs: the guided restore started from the first finds the second where
// it is mounted and restores the whole tree.
TEST(PortableRestorer, GuidedRestoreTakesTheOtherMountedDiscOfTheBackup) {
    ScratchFolder source, images, discs, media, home;
    std::mt19937 random(9);
    for (const char* file : {"One/a.bin", "Two/b.bin"}) {
        std::string bytes(150000, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());  // no compression helps
        source.WriteFile(file, bytes);
    }
    const std::string capacity = std::to_string(test::ProgramPayloadSize() + 250000);
    MakeDiscs(source.path(), images.path(), capacity, {discs / "first", discs / "second"});
    const std::string mountPoint = media.MakeFolder("second disc");
    const std::string label = fs::path(source.path()).filename().string();

    const Outcome run = RunOnTerminal(discs / "first/corvane-restore", home.path(), "\n\n\n",
                                      BindMount{discs / "second", mountPoint});
    if (run.status == kChrootRefused) GTEST_SKIP() << "mounting is not permitted here";
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("  " + mountPoint + "\r\n"), std::string::npos) << run.output;
    EXPECT_EQ(FilesBelow(home / label), FilesBelow(source.path()));
}

// A restorer copied where no backup lies says so, and where to go from there.
TEST(PortableRestorer, GuidedRestoreWithoutABackupBesideIt) {
    ScratchFolder bin, home;
    fs::copy_file(CORVANE_RESTORER_PATH, bin / "corvane-restore");
    const Outcome run = RunOnTerminal(bin / "corvane-restore", home.path(), "\n");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("There is no backup in " + bin.path()), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("corvane-restore help"), std::string::npos) << run.output;
    EXPECT_TRUE(fs::is_empty(home.path()));
}

}  // namespace
}  // namespace corvane
