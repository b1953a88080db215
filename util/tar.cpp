#include "util/tar.h"

#include "util/makepath.h"
#include "util/processumask.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    // False (errno set) when the system reports a failure of pending writes.
    bool close()
    {
        if (m_fd < 0)
            return true;
        const int result = ::close(m_fd);
        m_fd = -1;
        return result == 0;
    }

private:
    int m_fd;
};

enum class DataResult { Done, ReadFailed, WriteFailed };

// The read/write loop where the kernel cannot copy between the two files.
DataResult copyDataByBlocks(int from, int to)
{
    // As large as cp's, so the loop costs no more system calls than cp.
    char buffer[256 * 1024];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0)
            return DataResult::Done;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return DataResult::ReadFailed;
        }
        // A short write is not a failure; the next one tells whether the disk is full.
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(to, buffer + written, size_t(got - written));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return DataResult::WriteFailed;
            }
            written += put;
        }
    }
}

// The whole data transfer of one file; errno tells why it failed. The kernel
// moves the data itself, without a trip through this process.
DataResult copyData(int from, int to)
{
    bool copiedAny = false;
    for (;;) {
        const ssize_t put = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (put > 0) {
            copiedAny = true;
            continue;
        }
        // Some file systems report no data for files that have some, so an
        // empty result at the start is checked by reading.
        if (put == 0 && copiedAny)
            return DataResult::Done;
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG))
            return DataResult::WriteFailed;
        // Refused (other file system, not supported) or failed: the loop goes
        // on from the same offsets and tells a read from a write failure.
        return copyDataByBlocks(from, to);
    }
}

bool isDiskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

struct DirectoryCloser
{
    void operator()(DIR *directory) const { ::closedir(directory); }
};

struct ListedEntry
{
    QByteArray name;
    QString sortKey;
    bool isDirectory;
    dev_t device;
    ino_t inode;
};

// The toolkit's default listing, made from the stored names: directories and
// files (links followed) without hidden entries, broken links or special
// files, "." and ".." included, by name regardless of case. The toolkit itself
// would decode each name and could then no longer open one that is not valid
// in its encoding.
std::vector<ListedEntry> listDirectory(const QByteArray &directory)
{
    std::vector<ListedEntry> entries;
    const std::unique_ptr<DIR, DirectoryCloser> stream(::opendir(directory.constData()));
    if (!stream)
        return entries;
    while (const dirent *item = ::readdir(stream.get())) {
        const QByteArray name(item->d_name);
        if (name.startsWith('.') && name != "." && name != "..")
            continue;
        struct stat st;
        if (::fstatat(::dirfd(stream.get()), item->d_name, &st, 0) != 0)
            continue;
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            continue;
        entries.push_back({name, QFile::decodeName(name).toLower(), S_ISDIR(st.st_mode),
                           st.st_dev, st.st_ino});
    }
    // Names that decode alike keep an order of their own.
    std::sort(entries.begin(), entries.end(), [](const ListedEntry &a, const ListedEntry &b) {
        const int byKey = a.sortKey.compare(b.sortKey);
        return byKey != 0 ? byKey < 0 : a.name < b.name;
    });
    return entries;
}

bool isDotOrDotDot(const QByteArray &name)
{
    return name == "." || name == "..";
}

QByteArray below(const QByteArray &directory, const QByteArray &name)
{
    return directory + '/' + name;
}

} // namespace

Tar::Tar(QObject *parent)
    : QObject(parent)
    , cancelRequested(false)
{
    connect(this, &Tar::error, this, &Tar::noteError);
}

Tar::~Tar() = default;

void Tar::cancel()
{
    cancelRequested.store(true);
}

void Tar::noteError(const QString &error)
{
    m_lastError = error;
}

bool Tar::enterDirectory(const DirectoryId &id, const QByteArray &path, TreeWalk &walk,
                         QByteArray *ancestor)
{
    const auto found = std::find_if(walk.descent.begin(), walk.descent.end(),
                                    [&](const DescentStep &step) { return step.id == id; });
    if (found != walk.descent.end()) {
        if (ancestor)
            *ancestor = found->path;
        return false;
    }
    walk.descent.push_back({id, path});
    return true;
}

void Tar::noteDestination(const QByteArray &destination, TreeWalk &walk)
{
    struct stat st;
    walk.hasDestination = ::stat(destination.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if (walk.hasDestination)
        walk.destination = {st.st_dev, st.st_ino};
}

void Tar::enterTop(const QByteArray &top, TreeWalk &walk)
{
    struct stat st;
    if (::stat(top.constData(), &st) == 0)
        enterDirectory({st.st_dev, st.st_ino}, top, walk);
}

int Tar::countFiles(const QString &directory)
{
    const QByteArray top = QFile::encodeName(directory);
    TreeWalk walk;
    enterTop(top, walk);
    return countTree(top, walk);
}

int Tar::countFiles(const QString &directory, const QString &destination)
{
    const QByteArray top = QFile::encodeName(directory);
    TreeWalk walk;
    noteDestination(QFile::encodeName(destination), walk);
    enterTop(top, walk);
    return countTree(top, walk);
}

int Tar::countTree(const QByteArray &directory, TreeWalk &walk)
{
    if (cancelRequested.load()) {
        emit cancelled();
        return -1;
    }
    int count = 0;
    for (const ListedEntry &entry : listDirectory(directory)) {
        if (cancelRequested.load()) {
            emit cancelled();
            return -1;
        }
        if (isDotOrDotDot(entry.name))
            continue;
        if (!entry.isDirectory) {
            ++count;
            continue;
        }
        const DirectoryId id{entry.device, entry.inode};
        if (walk.hasDestination && id == walk.destination)
            continue;
        const QByteArray path = below(directory, entry.name);
        const size_t depth = walk.descent.size();
        if (!enterDirectory(id, path, walk))
            continue;
        const int inside = countTree(path, walk);
        walk.descent.resize(depth);
        if (inside < 0)
            return -1;
        count += inside;
    }
    return count;
}

bool Tar::copyDirectory(const QString &source, const QString &destination, int total, int *done)
{
    const QByteArray top = QFile::encodeName(source);
    int localDone = 0;
    TreeWalk walk;
    walk.destinationPending = true;
    walk.total = total;
    walk.done = done ? done : &localDone;
    walk.umask = processUmask();
    enterTop(top, walk);
    return copyTree(top, QFile::encodeName(destination), walk);
}

bool Tar::copyTree(const QByteArray &source, const QByteArray &destination, TreeWalk &walk)
{
    if (cancelRequested.load()) {
        emit cancelled();
        return false;
    }
    emit status(tr("Creating directory \"%1\"").arg(QFile::decodeName(destination)));
    if (!ensureEncodedPath(destination)) {
        emit error(tr("Could not create directory \"%1\".").arg(QFile::decodeName(destination)));
        return false;
    }
    if (!m_permissions.settleDirectory(destination))
        emit error(tr("Error changing permissions on \"%1\".").arg(QFile::decodeName(destination)));
    // Known only once it exists; the count looked at the same directory.
    if (walk.destinationPending) {
        walk.destinationPending = false;
        noteDestination(destination, walk);
        // Each file would be truncated by opening its own copy.
        if (walk.hasDestination && !walk.descent.empty()
            && walk.descent.front().id == walk.destination) {
            emit error(tr("Could not copy \"%1\" to \"%2\": they are the same directory.")
                           .arg(QFile::decodeName(source), QFile::decodeName(destination)));
            return false;
        }
    }
    for (const ListedEntry &entry : listDirectory(source)) {
        if (cancelRequested.load()) {
            emit cancelled();
            return false;
        }
        if (isDotOrDotDot(entry.name))
            continue;
        const QByteArray from = below(source, entry.name);
        const QByteArray to = below(destination, entry.name);
        if (entry.isDirectory) {
            const DirectoryId id{entry.device, entry.inode};
            if (walk.hasDestination && id == walk.destination)
                continue;
            QByteArray ancestor;
            const size_t depth = walk.descent.size();
            if (!enterDirectory(id, from, walk, &ancestor)) {
                emit error(tr("Skipped \"%1\": it leads back to \"%2\", which contains it.")
                               .arg(QFile::decodeName(from), QFile::decodeName(ancestor)));
                continue;
            }
            const bool copied = copyTree(from, to, walk);
            walk.descent.resize(depth);
            if (!copied)
                return false;
            continue;
        }
        if (copyOneFile(from, to, walk.umask) == CopyOutcome::DiskFull)
            return false;
        ++*walk.done;
        if (walk.total > 0)
            emit progress(int(qint64(*walk.done) * 100 / walk.total));
    }
    return true;
}

bool Tar::copyFile(const QString &source, const QString &destination)
{
    return copyOneFile(QFile::encodeName(source), QFile::encodeName(destination), processUmask())
        == CopyOutcome::Copied;
}

Tar::CopyOutcome Tar::copyOneFile(const QByteArray &from, const QByteArray &to, mode_t umask)
{
    const QString source = QFile::decodeName(from);
    const QString destination = QFile::decodeName(to);
    emit status(tr("Copying \"%1\" to \"%2\"")
                    .arg(QFileInfo(source).fileName(), QFileInfo(destination).path()));

    FileDescriptor in(::open(from.constData(), O_RDONLY | O_CLOEXEC));
    if (!in.isValid()) {
        emit error(tr("Can't open \"%1\" for reading.").arg(source));
        return CopyOutcome::Failed;
    }
    FileDescriptor out(::open(to.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out.isValid()) {
        const bool full = isDiskFull(errno);
        emit error(tr("Can't open \"%1\" for writing.").arg(destination));
        return full ? CopyOutcome::DiskFull : CopyOutcome::Failed;
    }
    switch (copyData(in.get(), out.get())) {
    case DataResult::Done:
        break;
    case DataResult::ReadFailed:
        emit error(tr("Error reading from \"%1\".").arg(source));
        return CopyOutcome::Failed;
    case DataResult::WriteFailed: {
        const bool full = isDiskFull(errno);
        emit error(tr("Error writing to \"%1\".").arg(destination));
        return full ? CopyOutcome::DiskFull : CopyOutcome::Failed;
    }
    }
    in.close();
    // Some file systems report a failed write only when the file is closed.
    if (!out.close()) {
        const bool full = isDiskFull(errno);
        emit error(tr("Error writing to \"%1\".").arg(destination));
        return full ? CopyOutcome::DiskFull : CopyOutcome::Failed;
    }

    struct stat st;
    if (::stat(from.constData(), &st) != 0) {
        emit error(tr("Error reading file information for \"%1\".").arg(source));
        return CopyOutcome::Failed;
    }
    if (!m_permissions.settle(to, m_permissions.fileMode(st.st_mode, umask))) {
        emit error(tr("Error changing permissions on \"%1\".").arg(destination));
        return CopyOutcome::Failed;
    }
    struct utimbuf times;
    times.actime = st.st_atime;
    times.modtime = st.st_mtime;
    if (::utime(to.constData(), &times) != 0) {
        emit error(tr("Error changing timestamps on \"%1\".").arg(destination));
        return CopyOutcome::Failed;
    }
    return CopyOutcome::Copied;
}
