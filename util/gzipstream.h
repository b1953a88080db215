#ifndef ZARVO_UTIL_GZIPSTREAM_H
#define ZARVO_UTIL_GZIPSTREAM_H

#include <QString>

#include <cstdint>
#include <memory>

#include <sys/types.h>

struct archive;
struct inflate_state;

// Reads a gzip file as the plain data it holds, inflating with ISA-L. Every
// member of a multi-member file is inflated in turn and its CRC-32 and length
// are checked against its trailer; zero bytes after the last member are
// ignored, anything else there is damage. A file that does not start with the
// gzip magic is passed through unchanged, so that libarchive judges it just as
// it would without this reader.
class GzipStream
{
public:
    explicit GzipStream(const QString &path);
    ~GzipStream();

    GzipStream(const GzipStream &) = delete;
    GzipStream &operator=(const GzipStream &) = delete;

    // Opens the file; on failure errorString() is the system's reason and
    // errno its number.
    bool open();
    void close();

    // Points *data at the next piece of plain data and returns its size:
    // 0 at the end of the data, -1 on failure (see errorString()). The piece
    // stays valid until the next call.
    ssize_t read(const void **data);

    // Reads to the end, so that the checksum of the last member is verified
    // even when the reader stopped early. False on failure.
    bool finish();

    // Hands the stream to libarchive as its source of plain data; a failure
    // of this reader becomes the archive's error text. Returns the result of
    // archive_read_open.
    int openArchive(struct archive *archive);

    bool isOpen() const { return fd >= 0; }
    // True when the file could be opened but its data could not be read.
    bool failedReading() const { return opened && mode == Mode::Failed; }
    QString errorString() const { return m_errorString; }
    std::uint64_t totalOut() const { return m_totalOut; }

private:
    enum class Mode { Start, Inflate, NextMember, Raw, End, Failed };

    bool fillInput();
    void startMember();
    bool checkTrailingBytes();
    ssize_t fail(const QString &text);

    static ssize_t archiveRead(struct archive *archive, void *client, const void **buffer);
    static int archiveClose(struct archive *archive, void *client);

    QString path;
    int fd;
    bool opened;
    Mode mode;
    bool inputAtEnd;
    std::unique_ptr<unsigned char[]> input;
    std::unique_ptr<unsigned char[]> output;
    std::unique_ptr<inflate_state> state;
    unsigned char *inputNext;
    std::size_t inputAvailable;
    std::uint64_t m_totalOut;
    QString m_errorString;
};

#endif
