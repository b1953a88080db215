#include "util/tar.h"

#include "util/makepath.h"
#include "util/processumask.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
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

// The whole data transfer of one file; errno tells why it failed.
DataResult copyData(int from, int to)
{
    char buffer[4096];
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

bool isDiskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

// Directories and files without hidden entries, broken links or special
// files, by name regardless of case: the toolkit's default listing.
QFileInfoList listDirectory(const QString &directory)
{
    return QDir(directory).entryInfoList();
}

bool isDotOrDotDot(const QString &name)
{
    return name == QLatin1String(".") || name == QLatin1String("..");
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

bool Tar::enterDirectory(const QString &directory, DescentPath &descent, QString *ancestor)
{
    struct stat st;
    if (::stat(QFile::encodeName(directory).constData(), &st) != 0)
        return true; // lists as empty; nothing to guard
    const auto found = std::find_if(descent.begin(), descent.end(), [&](const DescentStep &step) {
        return step.device == st.st_dev && step.inode == st.st_ino;
    });
    if (found != descent.end()) {
        if (ancestor)
            *ancestor = found->path;
        return false;
    }
    descent.push_back({st.st_dev, st.st_ino, directory});
    return true;
}

int Tar::countFiles(const QString &directory)
{
    DescentPath descent;
    enterDirectory(directory, descent);
    return countTree(directory, descent);
}

int Tar::countTree(const QString &directory, DescentPath &descent)
{
    if (cancelRequested.load()) {
        emit cancelled();
        return -1;
    }
    int count = 0;
    for (const QFileInfo &entry : listDirectory(directory)) {
        if (cancelRequested.load()) {
            emit cancelled();
            return -1;
        }
        if (isDotOrDotDot(entry.fileName()))
            continue;
        if (!entry.isDir()) {
            ++count;
            continue;
        }
        const QString path = entry.filePath();
        const size_t depth = descent.size();
        if (!enterDirectory(path, descent))
            continue;
        const int below = countTree(path, descent);
        descent.resize(depth);
        if (below < 0)
            return -1;
        count += below;
    }
    return count;
}

bool Tar::copyDirectory(const QString &source, const QString &destination, int total, int *done)
{
    int localDone = 0;
    DescentPath descent;
    enterDirectory(source, descent);
    return copyTree(source, destination, total, done ? *done : localDone, processUmask(),
                    descent);
}

bool Tar::copyTree(const QString &source, const QString &destination, int total, int &done,
                   mode_t umask, DescentPath &descent)
{
    if (cancelRequested.load()) {
        emit cancelled();
        return false;
    }
    emit status(tr("Creating directory \"%1\"").arg(destination));
    if (!ensurePath(destination)) {
        emit error(tr("Could not create directory \"%1\".").arg(destination));
        return false;
    }
    for (const QFileInfo &entry : listDirectory(source)) {
        if (cancelRequested.load()) {
            emit cancelled();
            return false;
        }
        const QString name = entry.fileName();
        if (isDotOrDotDot(name))
            continue;
        const QString from = source + QLatin1Char('/') + name;
        const QString to = destination + QLatin1Char('/') + name;
        if (entry.isDir()) {
            QString ancestor;
            const size_t depth = descent.size();
            if (!enterDirectory(from, descent, &ancestor)) {
                emit error(tr("Skipped \"%1\": it leads back to \"%2\", which contains it.")
                               .arg(from, ancestor));
                continue;
            }
            const bool copied = copyTree(from, to, total, done, umask, descent);
            descent.resize(depth);
            if (!copied)
                return false;
            continue;
        }
        if (copyOneFile(from, to, umask) == CopyOutcome::DiskFull)
            return false;
        ++done;
        if (total > 0)
            emit progress(int(qint64(done) * 100 / total));
    }
    return true;
}

bool Tar::copyFile(const QString &source, const QString &destination)
{
    return copyOneFile(source, destination, processUmask()) == CopyOutcome::Copied;
}

Tar::CopyOutcome Tar::copyOneFile(const QString &source, const QString &destination, mode_t umask)
{
    emit status(tr("Copying \"%1\" to \"%2\"")
                    .arg(QFileInfo(source).fileName(), QFileInfo(destination).path()));

    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
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
    const mode_t base = (S_ISDIR(st.st_mode) || (st.st_mode & S_IXUSR)) ? 0777 : 0666;
    if (::chmod(to.constData(), base & ~umask & 0777) != 0) {
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
