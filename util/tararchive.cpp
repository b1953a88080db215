#include "util/tar.h"

#include "util/archivereader.h"
#include "util/entrypathcheck.h"
#include "util/gzipstream.h"

#include <QCoreApplication>
#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <memory>
#include <sys/stat.h>

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

enum class DataResult { Done, ReadFailed, WriteFailed };

// Moves one entry's data to disk in the reader's own buffers, each block at
// its offset so that holes stay holes.
DataResult copyEntryData(archive *reader, archive *writer)
{
    const void *buffer;
    size_t size;
    la_int64_t offset;
    for (;;) {
        const int result = archive_read_data_block(reader, &buffer, &size, &offset);
        if (result == ARCHIVE_EOF)
            return DataResult::Done;
        if (result != ARCHIVE_OK)
            return DataResult::ReadFailed;
        if (archive_write_data_block(writer, buffer, size, offset) != ARCHIVE_OK)
            return DataResult::WriteFailed;
    }
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
        if (!extractEntry(reader.get(), writer.get(), entry, archivePath, destination, check))
            return false;
        if (total > 0) {
            emit progress(int(accumulator / total));
            accumulator += 100;
        }
    }
}

bool Tar::extractEntry(archive *reader, archive *writer, archive_entry *entry,
                       const QString &archivePath, const QString &destination,
                       EntryPathCheck &check)
{
    // The stored bytes go to disk unchanged; the decoded name is only shown.
    const char *rawName = archive_entry_pathname(entry);
    const QByteArray storedName(rawName ? rawName : "");
    const QString name = QString::fromLocal8Bit(storedName);
    const QString path = destination.isEmpty() || name.isEmpty() || name.startsWith(QLatin1Char('/'))
        ? name
        : destination + QLatin1Char('/') + name;
    emit status(tr("Extracting \"%1\" to \"%2\"").arg(name, path));

    const QString refusal = check.refusal(entry);
    if (!refusal.isEmpty()) {
        emit error(tr("Error extracting \"%1\" to \"%2\": %3").arg(name, path, refusal));
        return false;
    }
    const QByteArray onDisk = check.pathBelow(storedName);
    archive_entry_set_pathname(entry, onDisk.constData());
    if (const char *target = archive_entry_hardlink(entry))
        archive_entry_set_hardlink(entry, check.pathBelow(QByteArray(target)).constData());
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
        emit error(tr("Error extracting \"%1\" to \"%2\": %3").arg(name, path, writerError(writer)));
        return false;
    }
    switch (copyEntryData(reader, writer)) {
    case DataResult::Done:
        break;
    case DataResult::ReadFailed:
        emit error(tr("Error reading \"%1\" from \"%2\": %3")
                       .arg(name, archivePath, readerError(reader)));
        return false;
    case DataResult::WriteFailed:
        emit error(tr("Error writing \"%1\": %2").arg(path, writerError(writer)));
        return false;
    }
    if (archive_write_finish_entry(writer) != ARCHIVE_OK) {
        emit error(tr("Error closing \"%1\": %2").arg(path, writerError(writer)));
        return false;
    }
    if (!m_permissions.settleGroup(onDisk)) {
        emit error(tr("Error changing permissions on \"%1\".").arg(path));
        return false;
    }
    return true;
}
