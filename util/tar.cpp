#include "util/tar.h"

#include "util/contenthash.h"
#include "util/filedata.h"
#include "util/makepath.h"
#include "util/processumask.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
    qint64 size;
    dev_t device;
    ino_t inode;
    // Why the entry's type could not be learnt; 0 when it was.
    int error;
};

// The toolkit's default listing of an open directory, made from the stored
// names: directories and files (links followed) without hidden entries,
// broken links or special files, by name regardless of case. The toolkit
// itself would decode each name and could then no longer open one that is
// not valid in its encoding. 0, or why the directory cannot be read; an
// entry that cannot be examined is listed with its error.
int listDirectory(int directory, std::vector<ListedEntry> *entries)
{
    const int handle = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
    const std::unique_ptr<DIR, DirectoryCloser> stream(handle < 0 ? nullptr
                                                                  : ::fdopendir(handle));
    if (!stream) {
        const int error = errno;
        if (handle >= 0)
            ::close(handle);
        return error;
    }
    for (;;) {
        errno = 0;
        const dirent *item = ::readdir(stream.get());
        if (!item) {
            if (errno != 0)
                return errno;
            break;
        }
        const QByteArray name(item->d_name);
        if (name.startsWith('.'))
            continue;
        struct stat st = {};
        int error = 0;
        if (::fstatat(directory, item->d_name, &st, 0) != 0) {
            // A broken link, or one that loops, is no file of the tree.
            if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
                continue;
            error = errno;
        } else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
            continue;
        }
        entries->push_back({name, QFile::decodeName(name).toLower(), S_ISDIR(st.st_mode),
                            qint64(st.st_size), st.st_dev, st.st_ino, error});
    }
    // Names that decode alike keep an order of their own.
    std::sort(entries->begin(), entries->end(), [](const ListedEntry &a, const ListedEntry &b) {
        const int byKey = a.sortKey.compare(b.sortKey);
        return byKey != 0 ? byKey < 0 : a.name < b.name;
    });
    return 0;
}

// A directory of the source, links followed.
int openSourceDirectory(int parent, const char *name)
{
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A directory below the destination, created when missing. A symbolic link
// there is replaced by a real directory, so that nothing is written through
// it and its target is never touched; another non-directory is left in place
// with errno ENOTDIR.
int openDestinationDirectory(int parent, const char *name, int pathLength)
{
    // Paths beyond the system's limit would be out of reach for every
    // program that uses the installation.
    if (pathLength >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const int fd = ::openat(parent, name, flags);
    if (fd >= 0 || (errno != ENOENT && errno != ELOOP && errno != ENOTDIR))
        return fd;
    if (errno != ENOENT) {
        struct stat st;
        if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return -1;
        if (!S_ISLNK(st.st_mode)) {
            errno = ENOTDIR;
            return -1;
        }
        if (::unlinkat(parent, name, 0) != 0)
            return -1;
    }
    if (::mkdirat(parent, name, 0777) != 0 && errno != EEXIST)
        return -1;
    return ::openat(parent, name, flags);
}

// A new file in place of whatever non-directory stood there, so that a write
// never goes through a link or into a file that another name shares.
int createFile(int directory, const char *name, int pathLength, mode_t mode)
{
    if (pathLength >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    const int fd = ::openat(directory, name, flags, mode);
    if (fd >= 0 || errno != EEXIST || ::unlinkat(directory, name, 0) != 0)
        return fd;
    return ::openat(directory, name, flags, mode);
}

QByteArray below(const QByteArray &directory, const QByteArray &name)
{
    return directory + '/' + name;
}

QString cannotReadDirectory(const QByteArray &path, int error)
{
    return QCoreApplication::translate("Tar", "Can't read directory \"%1\": %2.")
        .arg(QFile::decodeName(path), qt_error_string(error));
}

QString cannotExamine(const QByteArray &path, int error)
{
    return QCoreApplication::translate("Tar", "Can't read file information for \"%1\": %2.")
        .arg(QFile::decodeName(path), qt_error_string(error));
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

void Tar::setStaging(const QString &staging, const QString &destination)
{
    m_staging = QFile::encodeName(staging);
    m_shownDestination = destination;
}

int Tar::finalLength(const QByteArray &path) const
{
    if (m_staging.isEmpty() || !path.startsWith(m_staging))
        return path.size();
    return path.size() - m_staging.size() + QFile::encodeName(m_shownDestination).size();
}

QString Tar::shown(const QByteArray &path) const
{
    if (m_staging.isEmpty() || !path.startsWith(m_staging)
        || (path.size() > m_staging.size() && path.at(m_staging.size()) != '/'))
        return QFile::decodeName(path);
    return m_shownDestination + QFile::decodeName(path.mid(m_staging.size()));
}

bool Tar::stopRequested()
{
    if (!cancelRequested.load())
        return false;
    emit cancelled();
    return true;
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

bool Tar::identifyDirectory(int fd, const QByteArray &path, DirectoryId *id)
{
    struct stat st;
    const int result = fd >= 0 ? ::fstat(fd, &st) : ::stat(path.constData(), &st);
    if (result != 0 || !S_ISDIR(st.st_mode))
        return false;
    *id = {st.st_dev, st.st_ino};
    return true;
}

int Tar::countFiles(const QString &directory)
{
    return countFiles(directory, QString());
}

int Tar::countFiles(const QString &directory, const QString &destination)
{
    if (stopRequested())
        return -1;
    const QByteArray top = QFile::encodeName(directory);
    TreeWalk walk;
    if (!destination.isEmpty())
        walk.hasDestination = identifyDirectory(-1, QFile::encodeName(destination),
                                                &walk.destination);
    const FileDescriptor fd(openSourceDirectory(AT_FDCWD, top.constData()));
    if (!fd.isValid()) {
        emit error(cannotReadDirectory(top, errno));
        return -1;
    }
    DirectoryId id;
    if (identifyDirectory(fd.get(), top, &id))
        enterDirectory(id, top, walk);
    return countTree(fd.get(), top, walk);
}

// Counting runs before anything is written, so a tree that cannot be read
// whole is refused here rather than installed with files missing.
int Tar::countTree(int directory, const QByteArray &path, TreeWalk &walk)
{
    if (stopRequested())
        return -1;
    std::vector<ListedEntry> entries;
    if (const int failure = listDirectory(directory, &entries)) {
        emit error(cannotReadDirectory(path, failure));
        return -1;
    }
    int count = 0;
    for (const ListedEntry &entry : entries) {
        if (stopRequested())
            return -1;
        const QByteArray inner = below(path, entry.name);
        if (entry.error != 0) {
            emit error(cannotExamine(inner, entry.error));
            return -1;
        }
        if (!entry.isDirectory) {
            countEntry(S_IFREG, entry.size);
            ++count;
            continue;
        }
        const DirectoryId id{entry.device, entry.inode};
        if (walk.hasDestination && id == walk.destination)
            continue;
        const size_t depth = walk.descent.size();
        if (!enterDirectory(id, inner, walk))
            continue;
        countEntry(S_IFDIR, 0);
        const FileDescriptor fd(openSourceDirectory(directory, entry.name.constData()));
        int inside = -1;
        if (fd.isValid())
            inside = countTree(fd.get(), inner, walk);
        else
            emit error(cannotReadDirectory(inner, errno));
        walk.descent.resize(depth);
        if (inside < 0)
            return -1;
        count += inside;
    }
    return count;
}

bool Tar::copyDirectory(const QString &source, const QString &destination, int total, int *done)
{
    if (stopRequested())
        return false;
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    const QString shownDestination = shown(to);
    emit status(tr("Creating directory \"%1\"").arg(shownDestination));
    if (!ensureEncodedPath(to)) {
        emit error(tr("Could not create directory \"%1\".").arg(shownDestination));
        return false;
    }
    // The destination as named may be reached through a link; what lies
    // below it never is.
    const FileDescriptor target(::open(to.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!target.isValid() && errno != ENOTDIR) {
        emit error(tr("Could not create directory \"%1\".").arg(shownDestination));
        return false;
    }
    const FileDescriptor origin(openSourceDirectory(AT_FDCWD, from.constData()));
    if (!origin.isValid()) {
        emit error(cannotReadDirectory(from, errno));
        return false;
    }
    if (target.isValid() && !m_permissions.settleDirectoryDescriptor(target.get()))
        emit error(tr("Error changing permissions on \"%1\".").arg(shownDestination));
    int localDone = 0;
    TreeWalk walk;
    walk.total = total;
    walk.done = done ? done : &localDone;
    walk.umask = processUmask();
    walk.topLength = to.size() + 1;
    // A staged copy is judged by where it will be: a staging directory is
    // never inside the source, but the destination may be.
    if (!m_staging.isEmpty() && to == m_staging)
        walk.hasDestination = identifyDirectory(-1, QFile::encodeName(m_shownDestination),
                                                &walk.destination);
    else
        walk.hasDestination = identifyDirectory(target.get(), to, &walk.destination);
    DirectoryId top;
    if (identifyDirectory(origin.get(), from, &top)) {
        // Each file would be truncated by opening its own copy.
        if (walk.hasDestination && top == walk.destination) {
            emit error(tr("Could not copy \"%1\" to \"%2\": they are the same directory.")
                           .arg(source, shownDestination));
            return false;
        }
        enterDirectory(top, from, walk);
    }
    return copyTree(origin.get(), from, target.get(), to, walk);
}

bool Tar::copyTree(int source, const QByteArray &sourcePath, int destination,
                   const QByteArray &destinationPath, TreeWalk &walk)
{
    std::vector<ListedEntry> entries;
    if (const int failure = listDirectory(source, &entries)) {
        emit error(cannotReadDirectory(sourcePath, failure));
        return true;
    }
    for (const ListedEntry &entry : entries) {
        if (stopRequested())
            return false;
        const Place from{source, entry.name.constData(), below(sourcePath, entry.name)};
        const Place to{destination, entry.name.constData(), below(destinationPath, entry.name)};
        if (entry.error != 0) {
            emit error(cannotExamine(from.path, entry.error));
            continue;
        }
        if (entry.isDirectory) {
            if (!copySubdirectory(from, to, {entry.device, entry.inode}, walk))
                return false;
            continue;
        }
        const CopyOutcome outcome = copyOneFile(from, to, walk.umask, walk.topLength);
        if (outcome == CopyOutcome::DiskFull || outcome == CopyOutcome::Cancelled)
            return false;
        ++*walk.done;
        if (walk.total > 0)
            emit progress(int(qint64(*walk.done) * 100 / walk.total));
    }
    return true;
}

bool Tar::copySubdirectory(const Place &from, const Place &to, const DirectoryId &id,
                           TreeWalk &walk)
{
    if (walk.hasDestination && id == walk.destination)
        return true;
    QByteArray ancestor;
    const size_t depth = walk.descent.size();
    if (!enterDirectory(id, from.path, walk, &ancestor)) {
        // Common in real trees (lib64 -> .); everything in it is copied anyway.
        emit status(tr("Skipped \"%1\": it leads back to \"%2\", which contains it.")
                        .arg(QFile::decodeName(from.path), QFile::decodeName(ancestor)));
        return true;
    }
    const FileDescriptor source(openSourceDirectory(from.directory, from.name));
    if (!source.isValid()) {
        emit error(cannotReadDirectory(from.path, errno));
        walk.descent.resize(depth);
        return true;
    }
    emit status(tr("Creating directory \"%1\"").arg(shown(to.path)));
    // Where a file stands in the way, every file below fails on its own.
    const FileDescriptor target(openDestinationDirectory(to.directory, to.name,
                                                           finalLength(to.path)));
    if (!target.isValid() && errno != ENOTDIR) {
        emit error(tr("Could not create directory \"%1\".").arg(shown(to.path)));
        return false;
    }
    if (target.isValid() && !m_permissions.settleDirectoryDescriptor(target.get()))
        emit error(tr("Error changing permissions on \"%1\".").arg(shown(to.path)));
    const bool copied = copyTree(source.get(), from.path, target.get(), to.path, walk);
    walk.descent.resize(depth);
    return copied;
}

bool Tar::copyFile(const QString &source, const QString &destination)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    return copyOneFile({AT_FDCWD, from.constData(), from}, {AT_FDCWD, to.constData(), to},
                       processUmask())
        == CopyOutcome::Copied;
}

Tar::CopyOutcome Tar::copyOneFile(const Place &from, const Place &to, mode_t umask,
                                  int topLength)
{
    const QString source = QFile::decodeName(from.path);
    const QString destination = shown(to.path);
    emit status(tr("Copying \"%1\" to \"%2\"")
                    .arg(QFileInfo(source).fileName(), QFileInfo(destination).path()));

    FileDescriptor in(::openat(from.directory, from.name, O_RDONLY | O_CLOEXEC));
    if (!in.isValid()) {
        emit error(tr("Can't open \"%1\" for reading.").arg(source));
        return CopyOutcome::Failed;
    }
    struct stat st;
    if (::fstat(in.get(), &st) != 0) {
        emit error(tr("Error reading file information for \"%1\".").arg(source));
        return CopyOutcome::Failed;
    }
    const mode_t mode = m_permissions.fileMode(st.st_mode, umask);
    FileDescriptor out(createFile(to.directory, to.name, finalLength(to.path), mode));
    if (!out.isValid()) {
        const bool full = isDiskFull(errno);
        emit error(tr("Can't open \"%1\" for writing.").arg(destination));
        return full ? CopyOutcome::DiskFull : CopyOutcome::Failed;
    }
    ContentHash hash;
    const bool hashing = m_hashing && topLength > 0;
    switch (copyFileData(in.get(), out.get(), st, cancelRequested, hashing ? &hash : nullptr)) {
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
    case DataResult::Cancelled:
        // Half a file must not pass for a copy.
        out.close();
        ::unlinkat(to.directory, to.name, 0);
        emit cancelled();
        return CopyOutcome::Cancelled;
    }
    in.close();
    // On the descriptor: the name may have been swapped for a link meanwhile.
    if (!m_permissions.settleCreatedFile(out.get(), mode, umask)) {
        emit error(tr("Error changing permissions on \"%1\".").arg(destination));
        return CopyOutcome::Failed;
    }
    const struct timespec times[2] = {{st.st_atime, 0}, {st.st_mtime, 0}};
    if (::futimens(out.get(), times) != 0) {
        emit error(tr("Error changing timestamps on \"%1\".").arg(destination));
        return CopyOutcome::Failed;
    }
    if (m_writeBack)
        startWriteBack(out.get());
    // Some file systems report a failed write only when the file is closed.
    if (!out.close()) {
        const bool full = isDiskFull(errno);
        emit error(tr("Error writing to \"%1\".").arg(destination));
        return full ? CopyOutcome::DiskFull : CopyOutcome::Failed;
    }
    if (hashing)
        m_hashes.insert(to.path.mid(topLength), hash.finish());
    return CopyOutcome::Copied;
}
