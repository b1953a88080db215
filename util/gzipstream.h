#ifndef ZARVO_UTIL_GZIPSTREAM_H
#define ZARVO_UTIL_GZIPSTREAM_H

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include <pthread.h>
#include <sys/types.h>

struct archive;
struct inflate_state;

// Reads a gzip file as the plain data it holds, inflating with ISA-L. Every
// member of a multi-member file is inflated in turn and its CRC-32 and length
// are checked against its trailer; zero bytes after the last member are
// ignored, anything else there is damage. A file that does not start with the
// gzip magic is passed through unchanged, so that libarchive judges it just as
// it would without this reader.
//
// A regular file is inflated by a thread of the stream's own a few pieces
// ahead of the reader, so that inflating overlaps with what the reader does
// with the data (writing files); a pipe is read on the reader's thread, which
// never waits for more input than it needs.
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
    bool failedReading() const { return opened && failed; }
    QString errorString() const { return m_errorString; }
    std::uint64_t totalOut() const { return m_totalOut; }

private:
    enum class Mode { Start, Inflate, NextMember, Raw, End, Failed };

    // The decoder, on the inflating thread or the reader's.
    ssize_t decode(unsigned char *out, const void **data);
    // The inflating thread and the pieces it hands over.
    ssize_t takePiece(const void **data);
    void produce();
    static void *startProducing(void *stream);
    void stopProducing();

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
    QString decodeError;

    // What the reader has been given; only the reader's thread touches these.
    std::uint64_t m_totalOut;
    QString m_errorString;
    bool failed;
    bool readAhead;

    struct Piece
    {
        std::unique_ptr<unsigned char[]> data;
        ssize_t size = 0;
    };
    static constexpr unsigned Pieces = 3;
    Piece pieces[Pieces];
    pthread_t producer;
    bool producing = false;
    std::mutex lock;
    std::condition_variable changed;
    unsigned produced = 0; // pieces filled by the producer
    unsigned taken = 0;    // pieces the reader has taken
    unsigned released = 0; // pieces the reader is done with
    bool stopRequested = false;
    bool started = false;
    bool ended = false;    // the reader has been given the end or a failure
    ssize_t endResult = 0;
};

#endif
