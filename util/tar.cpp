#include "util/tar.h"

#include "util/contenthash.h"
#include "util/filedata.h"
#include "util/filedescriptor.h"
#include "util/makepath.h"
#include "util/processumask.h"
#include "util/sourcelisting.h"
#include "util/tarordering.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isDiskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
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
    if (m_ordering && m_ordering->pool && !m_ordering->extraction)
        m_ordering->pool->stop();
    report(Said::Cancelled);
    return true;
}

void Tar::tell(const Report &report)
{
    switch (report.kind) {
    case Said::Status:
        emit status(report.text);
        break;
    case Said::Error:
        emit error(report.text);
        break;
    case Said::Progress:
        emit progress(report.value);
        break;
    case Said::Cancelled:
        emit cancelled();
        break;
    }
}

void Tar::report(Said kind, const QString &text, int value)
{
    Ordering *ordering = m_ordering.get();
    if (!ordering || ordering->steps.empty()) {
        if (!ordering || !ordering->stopped)
            tell({kind, text, value});
        return;
    }
    if (ordering->steps.back()->isFile)
        ordering->steps.push_back(std::make_unique<Step>());
    ordering->steps.back()->said.push_back({kind, text, value});
}

bool Tar::settle(size_t keep)
{
    Ordering &ordering = *m_ordering;
    while (!ordering.stopped && !ordering.steps.empty()) {
        Step &step = *ordering.steps.front();
        if (step.job) {
            if (ordering.steps.size() <= keep && !ordering.pool->hasEnded(*step.job))
                break;
            // Not begun, or a cancel came before it was told: the copy
            // stops before this file as it would writing one at a time.
            if (!ordering.pool->wait(*step.job)
                || (cancelRequested.load() && !ordering.extraction)) {
                ordering.pool->stop();
                ordering.stopped = true;
                emit cancelled();
                break;
            }
        }
        for (const Report &said : step.said)
            tell(said);
        if (step.isFile) {
            if (step.outcome == CopyOutcome::DiskFull || step.outcome == CopyOutcome::Cancelled
                || (step.outcome == CopyOutcome::Failed && ordering.extraction)) {
                ordering.stopped = true;
                if (ordering.pool)
                    ordering.pool->stop();
                break;
            }
            if (!step.hashKey.isEmpty())
                m_hashes.insert(step.hashKey, step.hash);
            if (step.progress >= 0)
                emit progress(step.progress);
        }
        if (!step.held.isEmpty())
            ordering.hold(step.held, -1);
        ordering.steps.pop_front();
    }
    return !ordering.stopped;
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
    const auto target = std::make_shared<const FileDescriptor>(
        ::open(to.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!target->isValid() && errno != ENOTDIR) {
        emit error(tr("Could not create directory \"%1\".").arg(shownDestination));
        return false;
    }
    const auto origin = std::make_shared<const FileDescriptor>(
        openSourceDirectory(AT_FDCWD, from.constData()));
    if (!origin->isValid()) {
        emit error(cannotReadDirectory(from, errno));
        return false;
    }
    if (target->isValid() && !m_permissions.settleDirectoryDescriptor(target->get()))
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
        walk.hasDestination = identifyDirectory(target->get(), to, &walk.destination);
    DirectoryId top;
    if (identifyDirectory(origin->get(), from, &top)) {
        // Each file would be truncated by opening its own copy.
        if (walk.hasDestination && top == walk.destination) {
            emit error(tr("Could not copy \"%1\" to \"%2\": they are the same directory.")
                           .arg(source, shownDestination));
            return false;
        }
        enterDirectory(top, from, walk);
    }
    const int writers = m_writers >= 0 ? m_writers
        : target->isValid()                ? WriterPool::writersFor(target->get())
                                           : 0;
    m_ordering = std::make_unique<Ordering>(writers, false);
    const bool copied = copyTree(origin, from, target, to, walk);
    const bool settled = settle(0);
    m_ordering.reset();
    return copied && settled;
}

bool Tar::copyTree(const Directory &source, const QByteArray &sourcePath,
                   const Directory &destination, const QByteArray &destinationPath,
                   TreeWalk &walk)
{
    std::vector<ListedEntry> entries;
    if (const int failure = listDirectory(source->get(), &entries)) {
        report(Said::Error, cannotReadDirectory(sourcePath, failure));
        return true;
    }
    for (const ListedEntry &entry : entries) {
        if (stopRequested())
            return false;
        Place from{source->get(), entry.name, below(sourcePath, entry.name)};
        Place to{destination->get(), entry.name, below(destinationPath, entry.name)};
        if (entry.error != 0) {
            report(Said::Error, cannotExamine(from.path, entry.error));
            continue;
        }
        if (entry.isDirectory) {
            if (!copySubdirectory(from, to, {entry.device, entry.inode}, walk))
                return false;
            continue;
        }
        ++*walk.done;
        const int value = walk.total > 0 ? int(qint64(*walk.done) * 100 / walk.total) : -1;
        if (!handOut({std::move(from), std::move(to), source, destination, walk.umask,
                      walk.topLength},
                     value))
            return false;
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
        report(Said::Status, tr("Skipped \"%1\": it leads back to \"%2\", which contains it.")
                                 .arg(QFile::decodeName(from.path), QFile::decodeName(ancestor)));
        return true;
    }
    const auto source = std::make_shared<const FileDescriptor>(
        openSourceDirectory(from.directory, from.name.constData()));
    if (!source->isValid()) {
        report(Said::Error, cannotReadDirectory(from.path, errno));
        walk.descent.resize(depth);
        return true;
    }
    report(Said::Status, tr("Creating directory \"%1\"").arg(shown(to.path)));
    // Where a file stands in the way, every file below fails on its own.
    const auto target = std::make_shared<const FileDescriptor>(
        openDestinationDirectory(to.directory, to.name.constData(), finalLength(to.path)));
    if (!target->isValid() && errno != ENOTDIR) {
        report(Said::Error, tr("Could not create directory \"%1\".").arg(shown(to.path)));
        return false;
    }
    if (target->isValid() && !m_permissions.settleDirectoryDescriptor(target->get()))
        report(Said::Error, tr("Error changing permissions on \"%1\".").arg(shown(to.path)));
    const bool copied = copyTree(source, from.path, target, to.path, walk);
    walk.descent.resize(depth);
    return copied;
}

bool Tar::handOut(FileCopy copy, int progress)
{
    Ordering &ordering = *m_ordering;
    // Written here and now, the file is announced before it is begun.
    if (!ordering.pool)
        report(Said::Status, copyingText(copy));
    ordering.steps.push_back(std::make_unique<Step>());
    Step *step = ordering.steps.back().get();
    step->isFile = true;
    step->progress = progress;
    if (!ordering.pool) {
        step->outcome = copyOneFile(copy, *step);
        return settle(0);
    }
    step->said.push_back({Said::Status, copyingText(copy), 0});
    step->job = ordering.pool->add(
        [this, step, copy = std::move(copy)] { step->outcome = copyOneFile(copy, *step); });
    return settle(ordering.limit);
}

bool Tar::copyFile(const QString &source, const QString &destination)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    const FileCopy copy{{AT_FDCWD, from, from}, {AT_FDCWD, to, to}, {}, {}, processUmask(), -1};
    Step step;
    emit status(copyingText(copy));
    const CopyOutcome outcome = copyOneFile(copy, step);
    for (const Report &said : step.said)
        tell(said);
    return outcome == CopyOutcome::Copied;
}

QString Tar::copyingText(const FileCopy &copy) const
{
    return tr("Copying \"%1\" to \"%2\"")
        .arg(QFileInfo(QFile::decodeName(copy.from.path)).fileName(),
             QFileInfo(shown(copy.to.path)).path());
}

Tar::CopyOutcome Tar::copyOneFile(const FileCopy &copy, Step &step) const
{
    const Place &from = copy.from;
    const Place &to = copy.to;
    const QString source = QFile::decodeName(from.path);
    const QString destination = shown(to.path);
    const auto fail = [&step](const QString &text, CopyOutcome outcome) {
        step.said.push_back({Said::Error, text, 0});
        return outcome;
    };

    FileDescriptor in(::openat(from.directory, from.name.constData(), O_RDONLY | O_CLOEXEC));
    if (!in.isValid())
        return fail(tr("Can't open \"%1\" for reading.").arg(source), CopyOutcome::Failed);
    struct stat st;
    if (::fstat(in.get(), &st) != 0)
        return fail(tr("Error reading file information for \"%1\".").arg(source),
                    CopyOutcome::Failed);
    const mode_t mode = m_permissions.fileMode(st.st_mode, copy.umask);
    FileDescriptor out(createFile(to.directory, to.name.constData(), finalLength(to.path), mode));
    if (!out.isValid()) {
        const bool full = isDiskFull(errno);
        return fail(tr("Can't open \"%1\" for writing.").arg(destination),
                    full ? CopyOutcome::DiskFull : CopyOutcome::Failed);
    }
    ContentHash hash;
    const bool hashing = m_hashing && copy.topLength > 0;
    switch (copyFileData(in.get(), out.get(), st, cancelRequested, hashing ? &hash : nullptr)) {
    case DataResult::Done:
        break;
    case DataResult::ReadFailed:
        return fail(tr("Error reading from \"%1\".").arg(source), CopyOutcome::Failed);
    case DataResult::WriteFailed: {
        const bool full = isDiskFull(errno);
        return fail(tr("Error writing to \"%1\".").arg(destination),
                    full ? CopyOutcome::DiskFull : CopyOutcome::Failed);
    }
    case DataResult::Cancelled:
        // Half a file must not pass for a copy.
        out.close();
        ::unlinkat(to.directory, to.name.constData(), 0);
        step.said.push_back({Said::Cancelled, QString(), 0});
        return CopyOutcome::Cancelled;
    }
    in.close();
    // On the descriptor: the name may have been swapped for a link meanwhile.
    if (!m_permissions.settleCreatedFile(out.get(), mode, copy.umask))
        return fail(tr("Error changing permissions on \"%1\".").arg(destination),
                    CopyOutcome::Failed);
    const struct timespec times[2] = {{st.st_atime, 0}, {st.st_mtime, 0}};
    if (::futimens(out.get(), times) != 0)
        return fail(tr("Error changing timestamps on \"%1\".").arg(destination),
                    CopyOutcome::Failed);
    if (m_writeBack)
        startWriteBack(out.get());
    // Some file systems report a failed write only when the file is closed.
    if (!out.close()) {
        const bool full = isDiskFull(errno);
        return fail(tr("Error writing to \"%1\".").arg(destination),
                    full ? CopyOutcome::DiskFull : CopyOutcome::Failed);
    }
    if (hashing) {
        step.hashKey = to.path.mid(copy.topLength);
        step.hash = hash.finish();
    }
    return CopyOutcome::Copied;
}
