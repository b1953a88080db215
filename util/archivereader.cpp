#include "util/archivereader.h"

#include "util/gzipstream.h"

#include <QCoreApplication>

#include <archive.h>

#include <cerrno>

void ReaderDeleter::operator()(archive *reader) const
{
    archive_read_close(reader);
    archive_read_free(reader);
}

ArchiveReader newReader()
{
    ArchiveReader reader(archive_read_new());
    archive_read_support_format_tar(reader.get());
    return reader;
}

bool openArchive(archive *reader, GzipStream &stream)
{
    if (!stream.open()) {
        archive_set_error(reader, errno, "%s", stream.errorString().toLocal8Bit().constData());
        return false;
    }
    return stream.openArchive(reader) == ARCHIVE_OK;
}

QString readerError(archive *reader)
{
    return QString::fromLocal8Bit(archive_error_string(reader));
}

QString readError(const GzipStream &stream, archive *reader)
{
    return stream.failedReading() ? stream.errorString() : readerError(reader);
}

QString openFailure(const QString &archivePath, const GzipStream &stream, archive *reader)
{
    if (stream.failedReading())
        return QCoreApplication::translate("Tar", "Error reading \"%1\": %2.")
            .arg(archivePath, stream.errorString());
    return QCoreApplication::translate("Tar", "Can't open \"%1\" for reading: %2.")
        .arg(archivePath, readerError(reader));
}
