#ifndef ZARVO_UTIL_ARCHIVEREADER_H
#define ZARVO_UTIL_ARCHIVEREADER_H

#include <QString>

#include <memory>

struct archive;
class GzipStream;

// Reading the installation archive: libarchive's tar reader on top of
// GzipStream, and the texts for what goes wrong.
struct ReaderDeleter
{
    void operator()(archive *reader) const;
};
using ArchiveReader = std::unique_ptr<archive, ReaderDeleter>;

// A reader for tar and nothing else; the gzip layer is GzipStream's.
ArchiveReader newReader();

// The one place where the archive file is opened and decoding is set up. A
// file that cannot be opened leaves the system's reason as the reader's error.
bool openArchive(archive *reader, GzipStream &stream);

QString readerError(archive *reader);

// libarchive words a failed read of the stream as "truncated" when it was
// skipping data; the stream knows what was wrong.
QString readError(const GzipStream &stream, archive *reader);

// Damage seen in the first data, while the reader opens, is a read error as
// it is anywhere further on.
QString openFailure(const QString &archivePath, const GzipStream &stream, archive *reader);

#endif
