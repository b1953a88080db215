// Installs arbitrary archives with the real InstallThread::run (count,
// extraction, ".installed" marker, library scan) and, when that finished,
// runs the after-work (desktop-entry rewrite, file association, post-install
// script). Aborts as soon as anything outside the destination directory
// changed: a new entry beside it, a sentinel file with other content, mode,
// time or link count, or another working directory; or when the marker of a
// finished installation is not a regular file. No payload code runs: "ldd"
// and "xdg-mime" are not on PATH, no desktop session is set (no icon tools),
// and a post-install script from the archive is replaced by one that does
// nothing.
//
// The first input byte chooses the container: odd values hand the rest to
// the reader as it is (exercising the gzip decoder), even values wrap the
// rest in a gzip stream first, so that mutations reach the tar parser. Its
// second bit has the files written by a pool of four writers.

#include "installer/desktop/fileassociation.h"
#include "installer/desktop/launchicons.h"
#include "installer/desktop/postinstallscript.h"
#include "installer/engine/installer.h"
#include "installer/engine/installthread.h"
#include "installer/engine/userprompt.h"
#include "util/tar.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <zlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Seeds aim absolute names and hard links at this fixed place.
const char *const defaultRoot = "/tmp/zarvo-fuzz";

struct Node
{
    mode_t mode;
    off_t size;
    nlink_t links;
    long long mtimeNs;
    std::string content; // file data or link target
};
using Snapshot = std::map<std::string, Node>;

std::string root;
std::string destination;
std::string inputDirectory;
std::string archivePath;
std::string workingDirectory;
Snapshot baseline;

// The worker's run, on the fuzzer's own thread: a thread per input would cost
// more than most installations, and its end is not ordered with the leak
// checker's look at the heap.
class InstallHere : public InstallThread
{
public:
    using InstallThread::InstallThread;
    void runHere() { run(); }
};

// The desktop integration's boxes go nowhere.
class SilentPrompt : public UserPrompt
{
public:
    bool askYesNo(QObject *, const QString &, const QString &) override { return false; }
    void tell(QObject *, Severity, const QString &, const QString &) override {}
};

[[noreturn]] void fail(const std::string &what, const char *kind = "written outside the destination")
{
    std::fprintf(stderr, "fuzz_extract: %s: %s\n", kind, what.c_str());
    std::abort();
}

[[noreturn]] void setupFailed(const std::string &what)
{
    std::fprintf(stderr, "fuzz_extract: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

std::string readAll(int dirFd, const std::string &name)
{
    std::string data;
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return "<unreadable>";
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        data.append(buffer, size_t(n));
    ::close(fd);
    return data;
}

// Everything below the directory open as `dirFd` (named `dir`), the
// destination and the input excluded. Works on descriptors, since an
// extraction gone wrong may leave paths longer than the system's limit.
void scan(int dirFd, const std::string &dir, Snapshot &into, bool top)
{
    DIR *d = ::fdopendir(dirFd);
    if (!d) {
        ::close(dirFd);
        return;
    }
    while (dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (top && (name == "dest" || name == "input"))
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        Node node{st.st_mode, st.st_size, st.st_nlink,
                  st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, std::string()};
        if (S_ISREG(st.st_mode)) {
            node.content = readAll(::dirfd(d), name);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlinkat(::dirfd(d), name.c_str(), target, sizeof target);
            node.content.assign(target, n > 0 ? size_t(n) : 0);
        }
        into[path] = node;
        if (S_ISDIR(st.st_mode)) {
            const int sub = ::openat(::dirfd(d), name.c_str(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                scan(sub, path, into, false);
        }
    }
    ::closedir(d);
}

void scan(const std::string &dir, Snapshot &into)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        scan(fd, dir, into, true);
}

void compareWithBaseline()
{
    Snapshot now;
    scan(root, now);
    for (const auto &[path, was] : baseline) {
        const auto it = now.find(path);
        if (it == now.end())
            fail(path + " was removed");
        const Node &is = it->second;
        if (is.mode != was.mode)
            fail(path + " changed its type or mode");
        if (is.size != was.size || is.content != was.content)
            fail(path + " changed its content");
        if (is.links != was.links)
            fail(path + " got another link count (hard link made to it)");
        if (is.mtimeNs != was.mtimeNs && !S_ISDIR(was.mode))
            fail(path + " changed its modification time");
    }
    for (const auto &entry : now) {
        if (!baseline.count(entry.first))
            fail(entry.first + " appeared");
    }
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd) || workingDirectory != cwd)
        fail("the working directory changed");
}

// Removes the entry `name` of the directory open as `dirFd` without following
// links, making directories writable first since an archive may store them
// without write permission.
void removeAt(int dirFd, const char *name)
{
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlinkat(dirFd, name, 0);
        return;
    }
    ::fchmodat(dirFd, name, 0700, 0);
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR *d = ::fdopendir(fd)) {
            while (dirent *e = ::readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    removeAt(::dirfd(d), e->d_name);
            }
            ::closedir(d);
        } else {
            ::close(fd);
        }
    }
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

void removeTree(const std::string &path)
{
    removeAt(AT_FDCWD, path.c_str());
}

void writeFile(const std::string &path, const std::string &data, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 || ::write(fd, data.data(), data.size()) != ssize_t(data.size()))
        setupFailed("cannot write " + path);
    ::fchmod(fd, mode);
    ::close(fd);
}

void makeDirectory(const std::string &path)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        setupFailed("cannot create " + path);
}

// The sentinel tree beside the destination: what a hostile archive aims at.
void buildSentinels()
{
    makeDirectory(root + "/outside");
    makeDirectory(root + "/outside/etc");
    writeFile(root + "/outside/victim", "victim\n", 0644);
    writeFile(root + "/outside/etc/passwd", "root:x:0:0::/root:/bin/sh\n", 0600);
    writeFile(root + "/outside/tool", "#!/bin/sh\n", 0755);
    writeFile(root + "/outside/corvane-zarvo.desktop", "[Desktop Entry]\nName=Theirs\nExec=x\n",
              0644);
    if (::symlink("outside", (root + "/link-to-outside").c_str()) != 0)
        setupFailed("cannot link");
    // Relative names that a faulty writer resolves against the working
    // directory land here.
    writeFile(root + "/decoy", "decoy\n", 0644);
}

// Whatever the archive brought as post-install script gives way to one that
// does nothing.
void replacePostInstallScript()
{
    const std::string script = destination + "/post-install.sh";
    struct stat st;
    if (::lstat(script.c_str(), &st) == 0) {
        removeAt(AT_FDCWD, script.c_str());
        writeFile(script, "#!/bin/sh\nexit 0\n", 0755);
    }
}

void lockRoot()
{
    const std::string lockPath = root + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        setupFailed("another fuzzer holds " + lockPath);
    // Held until the process ends.
}

// Empties the root, which may be a mount point, and removes it when it can.
void clearRoot()
{
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    if (DIR *d = ::fdopendir(fd)) {
        while (dirent *e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                removeAt(::dirfd(d), e->d_name);
        }
        ::closedir(d);
    } else {
        ::close(fd);
    }
}

void cleanUp()
{
    clearRoot();
    ::rmdir(root.c_str());
}

std::string gzipped(const uint8_t *data, size_t size)
{
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    std::string out(deflateBound(&z, uLong(size)) + 32, '\0');
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = uInt(size);
    z.next_out = reinterpret_cast<Bytef *>(&out[0]);
    z.avail_out = uInt(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        std::abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *configured = std::getenv("ZARVO_FUZZ_ROOT");
    root = configured && *configured ? configured : defaultRoot;
    lockRoot();
    // fuzz/run.sh may have mounted a small file system here.
    clearRoot();
    makeDirectory(root);
    struct stat st;
    if (::lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        setupFailed(root + " is not a directory");
    Snapshot left;
    scan(root, left);
    if (!left.empty())
        setupFailed("cannot clear the previous " + root + " (made by another user?)");
    destination = root + "/dest";
    inputDirectory = root + "/input";
    archivePath = inputDirectory + "/zarvo.tgz";
    makeDirectory(inputDirectory);
    buildSentinels();
    // An empty search path: a process for each tool would cost more than the
    // rest of an installation.
    makeDirectory(root + "/no-tools");
    ::setenv("PATH", (root + "/no-tools").c_str(), 1);
    ::unsetenv("KDE_FULL_SESSION");
    ::unsetenv("GNOME_DESKTOP_SESSION_ID");
    scan(root, baseline);
    workingDirectory = root;
    std::atexit(cleanUp);

    // Qt's own event dispatcher: glib keeps memory for each thread that the
    // leak checker would count.
    ::setenv("QT_NO_GLIB", "1", 1);
    static int argc = 1;
    static char name[] = "fuzz_extract";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    if (isBuildTree(QString::fromStdString(root)))
        setupFailed("a Makefile beside " + root + " would keep the desktop entry as it is");

    // A bomb stops at a few megabytes per file instead of filling the disk.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit fileSize{8u << 20, 8u << 20};
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string archive = (data[0] & 1)
            ? std::string(reinterpret_cast<const char *>(data + 1), size - 1)
            : gzipped(data + 1, size - 1);
    writeFile(archivePath, archive, 0644);
    removeTree(destination);
    makeDirectory(destination);

    // Relative names that a faulty writer resolves against the working
    // directory land beside the destination, where the scan sees them.
    // libFuzzer's own paths may be relative: go back afterwards.
    const int callerDirectory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (callerDirectory < 0 || ::chdir(root.c_str()) != 0)
        setupFailed("cannot enter " + root);
    {
        const QString installed = QString::fromStdString(destination);
        InstallHere thread(QString::fromStdString(inputDirectory), installed);
        thread.findChild<Tar *>()->setWriters(data[0] & 2 ? 4 : 0);
        bool finished = false;
        QObject::connect(&thread, &InstallThread::installerFinished, &thread,
                         [&finished] { finished = true; }, Qt::DirectConnection);
        thread.runHere();
        struct stat marker;
        if (finished && (::lstat((destination + "/.installed").c_str(), &marker) != 0
                         || !S_ISREG(marker.st_mode)))
            fail(destination + "/.installed", "the marker of a finished installation is no file");
        if (finished) {
            replacePostInstallScript();
            SilentPrompt prompt;
            Installer installer(nullptr, &prompt);
            installLaunchIcons(installer, installed, QString::fromStdString(root));
            installFileAssociation(installed);
            runPostInstallScript(installed);
        }
    }
    compareWithBaseline();
    if (::fchdir(callerDirectory) != 0)
        setupFailed("cannot return to the working directory");
    ::close(callerDirectory);
    return 0;
}
