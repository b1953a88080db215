#include "util/tar.h"

#include "util/archivereader.h"
#include "util/contenthash.h"
#include "util/entrypathcheck.h"
#include "util/filedata.h"
#include "util/gzipstream.h"

#include <QCoreApplication>
#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
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

// Moves one entry's data to disk in the reader's own buffers, each block at
// its offset so that holes stay holes; `hash`, when given, takes the data as
// it passes and the holes as the zeros they read as.
EntryData copyEntryData(archive *reader, archive *writer, ContentHash *hash)
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
        if (archive_write_data_block(writer, buffer, size, offset) != ARCHIVE_OK)
            return EntryData::WriteFailed;
        if (hash) {
            hash->addZerosUpTo(offset);
            hash->add(buffer, size);
        }
    }
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

    EntryPathCheck check(QFile::encodeName(destination));
    const QString shownDestination = shown(QFile::encodeName(destination));
    check.setShownDestination(QFile::encodeName(shownDestination));
    qint64 accumulator = 100;
    for (;;) {
        archive_entry *entry;
        const int result = archive_read_next_header(reader.get(), &entry);
        if (result == ARCHIVE_EOF)
            return true;
        if (result != ARCHIVE_OK) {
            emit error(tr("Error reading \"%1\": %2.")
                           .arg(archivePath, readError(stream, reader.get())));
            return false;
        }
        if (cancelRequested.load()) {
            emit cancelled();
            return false;
        }
        if (!extractEntry(reader.get(), writer.get(), entry, archivePath, destination,
                          shownDestination, check))
            return false;
        if (total > 0) {
            emit progress(int(accumulator / total));
            accumulator += 100;
        }
    }
}

bool Tar::extractEntry(archive *reader, archive *writer, archive_entry *entry,
                       const QString &archivePath, const QString &destination,
                       const QString &shownDestination, EntryPathCheck &check)
{
    // The stored bytes go to disk unchanged; the decoded name is only shown.
    const char *rawName = archive_entry_pathname(entry);
    const QByteArray storedName(rawName ? rawName : "");
    const QString name = QString::fromLocal8Bit(storedName);
    const QString path = shownDestination.isEmpty() || name.isEmpty()
            || name.startsWith(QLatin1Char('/'))
        ? name
        : shownDestination + QLatin1Char('/') + name;
    emit status(tr("Extracting \"%1\" to \"%2\"").arg(name, path));
    // The writer names the paths it wrote, in the staging directory.
    const auto writerText = [&] {
        QString text = writerError(writer);
        return destination.isEmpty() ? text : text.replace(destination, shownDestination);
    };

    const QString refusal = check.refusal(entry);
    if (!refusal.isEmpty()) {
        emit error(tr("Error extracting \"%1\" to \"%2\": %3").arg(name, path, refusal));
        return false;
    }
    const QByteArray onDisk = check.pathBelow(storedName);
    archive_entry_set_pathname(entry, onDisk.constData());
    const char *hardLink = archive_entry_hardlink(entry);
    const QByteArray linkTarget(hardLink ? hardLink : "");
    if (hardLink)
        archive_entry_set_hardlink(entry, check.pathBelow(linkTarget).constData());
    const bool regular = !hardLink && archive_entry_filetype(entry) == AE_IFREG;
    archive_entry_set_perm(entry, m_permissions.entryMode(archive_entry_mode(entry))
                                      & ~mode_t(S_ISUID | S_ISGID));
    // Directories the writer would make on its own would get the umask's modes.
    if (m_permissions.isFixed()
        && !m_permissions.makeParents(QFile::encodeName(destination), onDisk)) {
        emit error(tr("Error extracting \"%1\" to \"%2\": %3")
                       .arg(name, path, qt_error_string(errno)));
        return false;
    }

    if (archive_write_header(writer, entry) != ARCHIVE_OK) {
        emit error(tr("Error extracting \"%1\" to \"%2\": %3")
                       .arg(name, path, writerText()));
        return false;
    }
    ContentHash hash;
    switch (copyEntryData(reader, writer, regular && m_hashing ? &hash : nullptr)) {
    case EntryData::Done:
        break;
    case EntryData::ReadFailed:
        emit error(tr("Error reading \"%1\" from \"%2\": %3")
                       .arg(name, archivePath, readerError(reader)));
        return false;
    case EntryData::WriteFailed:
        emit error(tr("Error writing \"%1\": %2")
                       .arg(path, writerText()));
        return false;
    }
    if (archive_write_finish_entry(writer) != ARCHIVE_OK) {
        emit error(tr("Error closing \"%1\": %2")
                       .arg(path, writerText()));
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
        m_hashes.insert(relativeName(storedName), hash.finish());
    } else if (m_hashing && hardLink) {
        m_hashes.insert(relativeName(storedName), m_hashes.value(relativeName(linkTarget)));
    }
    if (!m_permissions.settleGroup(onDisk)) {
        emit error(tr("Error changing permissions on \"%1\".").arg(path));
        return false;
    }
    return true;
}
