#include "util/tar.h"

#include "util/archivereader.h"
#include "util/contenthash.h"
#include "util/entrypathcheck.h"
#include "util/filedata.h"
#include "util/gzipstream.h"
#include "util/processumask.h"
#include "util/tarordering.h"

#include <QCoreApplication>
#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct WriterDeleter
{
    void operator()(archive *writer) const
    {
        archive_write_close(writer);
        archive_write_free(writer);
    }
};

using DiskWriter = std::unique_ptr<archive, WriterDeleter>;

enum class EntryData { Done, ReadFailed, WriteFailed };

const la_int64_t writeBackSize = 1 << 20;

// Files up to this size are read here and written by the pool; a larger one
// is written here, without holding its data in memory.
const qint64 pooledFileSize = 256 << 10;

// Hands one entry's data to `put` in the reader's own buffers, each block
// with its offset so that holes stay holes; `hash`, when given, takes the
// data as it passes and the holes as the zeros they read as.
EntryData passEntryData(archive *reader, ContentHash *hash,
                        const std::function<bool(const void *, size_t, la_int64_t)> &put)
{
    const void *buffer;
    size_t size;
    la_int64_t offset;
    for (;;) {
        const int result = archive_read_data_block(reader, &buffer, &size, &offset);
        if (result == ARCHIVE_EOF)
            return EntryData::Done;
        if (result != ARCHIVE_OK)
            return EntryData::ReadFailed;
        if (!put(buffer, size, offset))
            return EntryData::WriteFailed;
        if (hash) {
            hash->addZerosUpTo(offset);
            hash->add(buffer, size);
        }
    }
}

// Moves one entry's data to disk.
EntryData copyEntryData(archive *reader, archive *writer, ContentHash *hash)
{
    return passEntryData(reader, hash, [writer](const void *buffer, size_t size, la_int64_t offset) {
        return archive_write_data_block(writer, buffer, size, offset) == ARCHIVE_OK;
    });
}

// A stored name as a path relative to the destination: "./a//b" is "a/b".
QByteArray relativeName(const QByteArray &stored)
{
    QByteArray relative;
    for (const QByteArray &part : stored.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (!relative.isEmpty())
            relative += '/';
        relative += part;
    }
    return relative;
}

// The disk writer often says no more than "Write failed"; the system's text
// tells the user that the disk is full or the quota exhausted.
QString writerError(archive *writer)
{
    QString text = QString::fromLocal8Bit(archive_error_string(writer));
    const int number = archive_errno(writer);
    if (number > 0) {
        const QString system = qt_error_string(number);
        if (text.isEmpty()) {
            text = system;
        } else if (!text.contains(system)) {
            if (text.endsWith(QLatin1Char('.')))
                text.chop(1);
            text += QStringLiteral(": ") + system;
        }
    }
    return text;
}

} // namespace

int Tar::countArchiveEntries(const QString &archivePath)
{
    if (cancelRequested.load()) {
        emit cancelled();
        return -1;
    }
    // Declared before the reader, whose close calls back into it.
    GzipStream stream(archivePath);
    ArchiveReader reader = newReader();
    if (!openArchive(reader.get(), stream)) {
        emit error(openFailure(archivePath, stream, reader.get()));
        return -1;
    }
    int count = 0;
    for (;;) {
        archive_entry *entry;
        const int result = archive_read_next_header(reader.get(), &entry);
        if (result == ARCHIVE_EOF) {
            // The tar end may come before the last checksum: read up to it,
            // so that damage is found before anything is written.
            if (!stream.finish()) {
                emit error(tr("Error reading \"%1\": %2.").arg(archivePath, stream.errorString()));
                return -1;
            }
            return count;
        }
        if (result != ARCHIVE_OK) {
            emit error(tr("Error reading \"%1\": %2.")
                           .arg(archivePath, readError(stream, reader.get())));
            return -1;
        }
        if (cancelRequested.load()) {
            emit cancelled();
            return -1;
        }
        if (!archive_entry_hardlink(entry)) {
            const mode_t type = archive_entry_filetype(entry);
            const char *target = archive_entry_symlink(entry);
            countEntry(type == AE_IFDIR || type == AE_IFLNK ? type : mode_t(S_IFREG),
                       type == AE_IFLNK ? qint64(target ? std::strlen(target) : 0)
                                        : qint64(archive_entry_size(entry)));
        }
        ++count;
    }
}

bool Tar::extract(const QString &archivePath, const QString &destination, int total)
{
    if (cancelRequested.load()) {
        emit cancelled();
        return false;
    }
    // Declared first so that it is released after the reader.
    DiskWriter writer(archive_write_disk_new());
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME);
    // Declared before the reader, whose close calls back into it.
    GzipStream stream(archivePath);
    ArchiveReader reader = newReader();
    if (!openArchive(reader.get(), stream)) {
        emit error(openFailure(archivePath, stream, reader.get()));
        return false;
    }
    auto top = std::make_shared<const FileDescriptor>(
        destination.isEmpty()
            ? -1
            : ::open(QFile::encodeName(destination).constData(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int writers = m_writers >= 0 ? m_writers
        : top->isValid()         ? WriterPool::writersFor(top->get())
                                 : 0;
    if (!top->isValid())
        writers = 0;
    m_ordering = std::make_unique<Ordering>(writers, true);
    m_ordering->top = std::move(top);
    m_ordering->umask = processUmask();
    const bool extracted = extractEntries(reader.get(), writer.get(), stream, archivePath,
                                          destination, total);
    // Every file is written before the writer sets its directories' modes and times.
    const bool settled = settle(0);
    m_ordering.reset();
    return extracted && settled;
}

bool Tar::extractEntries(archive *reader, archive *writer, const GzipStream &stream,
                         const QString &archivePath, const QString &destination, int total)
{
    EntryPathCheck check(QFile::encodeName(destination));
    const QString shownDestination = shown(QFile::encodeName(destination));
    check.setShownDestination(QFile::encodeName(shownDestination));
    qint64 accumulator = 100;
    for (;;) {
        archive_entry *entry;
        const int result = archive_read_next_header(reader, &entry);
        if (result == ARCHIVE_EOF)
            return true;
        if (result != ARCHIVE_OK) {
            report(Said::Error, tr("Error reading \"%1\": %2.")
                                    .arg(archivePath, readError(stream, reader)));
            return false;
        }
        if (stopRequested())
            return false;
        if (!extractEntry(reader, writer, entry, archivePath, destination, shownDestination,
                          check, total > 0 ? int(accumulator / total) : -1))
            return false;
        accumulator += 100;
    }
}

bool Tar::extractEntry(archive *reader, archive *writer, archive_entry *entry,
                       const QString &archivePath, const QString &destination,
                       const QString &shownDestination, EntryPathCheck &check, int progress)
{
    // The stored bytes go to disk unchanged; the decoded name is only shown.
    const char *rawName = archive_entry_pathname(entry);
    const QByteArray storedName(rawName ? rawName : "");
    const QString name = QString::fromLocal8Bit(storedName);
    const QString path = shownDestination.isEmpty() || name.isEmpty()
            || name.startsWith(QLatin1Char('/'))
        ? name
        : shownDestination + QLatin1Char('/') + name;
    report(Said::Status, tr("Extracting \"%1\" to \"%2\"").arg(name, path));
    // The writer names the paths it wrote, in the staging directory.
    const auto writerText = [&] {
        QString text = writerError(writer);
        return destination.isEmpty() ? text : text.replace(destination, shownDestination);
    };

    const char *hardLink = archive_entry_hardlink(entry);
    const QByteArray linkTarget(hardLink ? hardLink : "");
    // An entry that would touch a file still being written waits for it.
    const QByteArray relative = relativeName(storedName);
    if (m_ordering->pool
        && m_ordering->touchesHeld(relative, hardLink ? relativeName(linkTarget) : QByteArray())
        && !settle(0))
        return false;
    const QString refusal = check.refusal(entry);
    if (!refusal.isEmpty()) {
        report(Said::Error, tr("Error extracting \"%1\" to \"%2\": %3").arg(name, path, refusal));
        return false;
    }
    const QByteArray onDisk = check.pathBelow(storedName);
    archive_entry_set_pathname(entry, onDisk.constData());
    if (hardLink)
        archive_entry_set_hardlink(entry, check.pathBelow(linkTarget).constData());
    const bool regular = !hardLink && archive_entry_filetype(entry) == AE_IFREG;
    archive_entry_set_perm(entry, m_permissions.entryMode(archive_entry_mode(entry))
                                      & ~mode_t(S_ISUID | S_ISGID));
    // Directories the writer would make on its own would get the umask's modes.
    if (m_permissions.isFixed()
        && !m_permissions.makeParents(QFile::encodeName(destination), onDisk)) {
        report(Said::Error, tr("Error extracting \"%1\" to \"%2\": %3")
                                .arg(name, path, qt_error_string(errno)));
        return false;
    }
    bool handedOut = false;
    if (regular && m_ordering->pool
        && handOutEntry(reader, entry, relative, path, name, archivePath, progress, &handedOut))
        return handedOut;
    // A directory or link written here may replace the one a file was last put in.
    if (!regular)
        m_ordering->parent.reset();

    if (archive_write_header(writer, entry) != ARCHIVE_OK) {
        report(Said::Error, tr("Error extracting \"%1\" to \"%2\": %3")
                                .arg(name, path, writerText()));
        return false;
    }
    ContentHash hash;
    switch (copyEntryData(reader, writer, regular && m_hashing ? &hash : nullptr)) {
    case EntryData::Done:
        break;
    case EntryData::ReadFailed:
        report(Said::Error, tr("Error reading \"%1\" from \"%2\": %3")
                                .arg(name, archivePath, readerError(reader)));
        return false;
    case EntryData::WriteFailed:
        report(Said::Error, tr("Error writing \"%1\": %2").arg(path, writerText()));
        return false;
    }
    if (archive_write_finish_entry(writer) != ARCHIVE_OK) {
        report(Said::Error, tr("Error closing \"%1\": %2").arg(path, writerText()));
        return false;
    }
    // The writer has closed the file; opening it again costs a round trip on
    // a network file system, which only a large file is worth.
    if (m_writeBack && regular && archive_entry_size(entry) >= writeBackSize) {
        const int written = ::open(onDisk.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (written >= 0) {
            startWriteBack(written);
            ::close(written);
        }
    }
    if (m_hashing && regular) {
        hash.addZerosUpTo(archive_entry_size(entry));
        m_hashes.insert(relative, hash.finish());
    } else if (m_hashing && hardLink) {
        m_hashes.insert(relative, m_hashes.value(relativeName(linkTarget)));
    }
    if (!m_permissions.settleGroup(onDisk)) {
        report(Said::Error, tr("Error changing permissions on \"%1\".").arg(path));
        return false;
    }
    if (progress >= 0)
        report(Said::Progress, QString(), progress);
    return true;
}

Tar::Directory Tar::parentOf(const QByteArray &relative)
{
    Ordering &ordering = *m_ordering;
    const int slash = relative.lastIndexOf('/');
    const QByteArray parentPath = slash < 0 ? QByteArray() : relative.left(slash);
    if (ordering.parent && parentPath == ordering.parentPath)
        return ordering.parent;
    // Component by component, never through a link: what a link stands in
    // for is left to the writer below, which refuses it in its own words.
    Directory directory = ordering.top;
    if (!parentPath.isEmpty()) {
        for (const QByteArray &component : parentPath.split('/')) {
            const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
            int fd = ::openat(directory->get(), component.constData(), flags);
            if (fd < 0 && errno == ENOENT
                && (::mkdirat(directory->get(), component.constData(), 0775) == 0
                    || errno == EEXIST))
                fd = ::openat(directory->get(), component.constData(), flags);
            if (fd < 0)
                return Directory();
            directory = std::make_shared<const FileDescriptor>(fd);
        }
    }
    ordering.parentPath = parentPath;
    ordering.parent = directory;
    return directory;
}

bool Tar::handOutEntry(archive *reader, archive_entry *entry, const QByteArray &relative,
                       const QString &path, const QString &name, const QString &archivePath,
                       int progress, bool *ok)
{
    const qint64 size = archive_entry_size(entry);
    if (size > pooledFileSize || relative.isEmpty())
        return false;
    const Directory parent = parentOf(relative);
    if (!parent)
        return false;
    EntryFile file{parent, relative.mid(relative.lastIndexOf('/') + 1), name, path, {}, size,
                   mode_t(archive_entry_perm(entry)), m_ordering->umask, {}};
    file.times[0] = archive_entry_atime_is_set(entry)
        ? timespec{archive_entry_atime(entry), archive_entry_atime_nsec(entry)}
        : timespec{0, UTIME_OMIT};
    file.times[1] = archive_entry_mtime_is_set(entry)
        ? timespec{archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)}
        : timespec{0, UTIME_OMIT};
    ContentHash hash;
    const auto keep = [&file](const void *buffer, size_t length, la_int64_t offset) {
        file.blocks.emplace_back(offset, QByteArray(static_cast<const char *>(buffer), int(length)));
        return true;
    };
    if (passEntryData(reader, m_hashing ? &hash : nullptr, keep) != EntryData::Done) {
        report(Said::Error, tr("Error reading \"%1\" from \"%2\": %3")
                                .arg(name, archivePath, readerError(reader)));
        *ok = false;
        return true;
    }
    if (m_hashing) {
        hash.addZerosUpTo(size);
        m_hashes.insert(relative, hash.finish());
    }
    Ordering &ordering = *m_ordering;
    ordering.steps.push_back(std::make_unique<Step>());
    Step *step = ordering.steps.back().get();
    step->isFile = true;
    step->progress = progress;
    step->held = relative;
    ordering.hold(relative, 1);
    step->job = ordering.pool->add(
        [this, step, file = std::move(file)] { step->outcome = writeEntry(file, *step); });
    *ok = settle(ordering.limit);
    return true;
}

Tar::CopyOutcome Tar::writeEntry(const EntryFile &file, Step &step) const
{
    const int parent = file.parent->get();
    const char *name = file.fileName.constData();
    // A new file in place of what stood there, never written through a link.
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, name, flags, file.mode);
    if (fd < 0 && errno == EEXIST
        && (::unlinkat(parent, name, 0) == 0
            || ((errno == EISDIR || errno == EPERM) && ::unlinkat(parent, name, AT_REMOVEDIR) == 0)))
        fd = ::openat(parent, name, flags, file.mode);
    FileDescriptor out(fd);
    int error = out.isValid() ? 0 : errno;
    qint64 end = 0;
    for (auto block = file.blocks.cbegin(); error == 0 && block != file.blocks.cend(); ++block) {
        for (int written = 0; error == 0 && written < block->second.size();) {
            const ssize_t put = ::pwrite(out.get(), block->second.constData() + written,
                                         size_t(block->second.size() - written),
                                         off_t(block->first + written));
            if (put < 0 && errno != EINTR)
                error = errno;
            written += int(std::max<ssize_t>(put, 0));
        }
        end = std::max(end, qint64(block->first + block->second.size()));
    }
    // A hole at the end is made by the size alone.
    if (error == 0 && end < file.size && ::ftruncate(out.get(), off_t(file.size)) != 0)
        error = errno;
    QString failure;
    if (!out.isValid()) {
        failure = tr("Error extracting \"%1\" to \"%2\": %3")
                      .arg(file.name, file.path, qt_error_string(error));
    } else if (error != 0) {
        failure = tr("Error writing \"%1\": %2").arg(file.path, qt_error_string(error));
    } else if (!m_permissions.settleCreatedFile(out.get(), file.mode, file.umask)
               || ::futimens(out.get(), file.times) != 0 || !out.close()) {
        error = errno;
        failure = tr("Error closing \"%1\": %2").arg(file.path, qt_error_string(error));
    }
    if (error == 0)
        return CopyOutcome::Copied;
    step.said.push_back({Said::Error, failure, 0});
    return error == ENOSPC || error == EDQUOT ? CopyOutcome::DiskFull : CopyOutcome::Failed;
}
