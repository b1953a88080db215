#include "util/gzipstream.h"

#include <QCoreApplication>
#include <QFile>

#include <archive.h>
#include <isa-l/igzip_lib.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large pieces keep the per-call overhead of inflate and of libarchive's
// reader small; libarchive hands entry data out of them without copying.
constexpr std::size_t InputSize = 128 * 1024;
constexpr std::size_t OutputSize = 256 * 1024;

QString tr(const char *text)
{
    return QCoreApplication::translate("Tar", text);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString inflateError(int result)
{
    switch (result) {
    case ISAL_INCORRECT_CHECKSUM:
        return tr("Damaged compressed data: checksum or length does not match");
    case ISAL_INVALID_WRAPPER:
        return tr("Damaged gzip header");
    case ISAL_UNSUPPORTED_METHOD:
        return tr("Unsupported gzip compression method");
    default:
        return tr("Damaged compressed data");
    }
}

} // namespace

GzipStream::GzipStream(const QString &path)
    : path(path)
    , fd(-1)
    , opened(false)
    , mode(Mode::Start)
    , inputAtEnd(false)
    , inputNext(nullptr)
    , inputAvailable(0)
    , m_totalOut(0)
    , failed(false)
    , readAhead(false)
{
}

GzipStream::~GzipStream()
{
    close();
}

bool GzipStream::open()
{
    close();
    opened = false;
    fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_errorString = systemError(errno);
        mode = Mode::Failed;
        return false;
    }
    // As with any file that cannot be opened, a directory is refused here
    // with the system's reason, not later as damage.
    struct stat st;
    if (fstat(fd, &st) != 0)
        st.st_mode = 0;
    if (S_ISDIR(st.st_mode)) {
        close();
        m_errorString = systemError(EISDIR);
        mode = Mode::Failed;
        errno = EISDIR;
        return false;
    }
    opened = true;
    readAhead = S_ISREG(st.st_mode);
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (!input)
        input.reset(new unsigned char[InputSize]);
    inputNext = input.get();
    inputAvailable = 0;
    inputAtEnd = false;
    mode = Mode::Start;
    decodeError.clear();
    m_totalOut = 0;
    m_errorString.clear();
    failed = false;
    started = false;
    ended = false;
    return true;
}

void GzipStream::close()
{
    stopProducing();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

ssize_t GzipStream::fail(const QString &text)
{
    decodeError = text;
    mode = Mode::Failed;
    return -1;
}

// Keeps what is left of the input and appends as much of the file as fits.
bool GzipStream::fillInput()
{
    if (inputAtEnd)
        return true;
    if (inputAvailable > 0 && inputNext != input.get())
        std::memmove(input.get(), inputNext, inputAvailable);
    inputNext = input.get();
    while (inputAvailable < InputSize) {
        const ssize_t n = ::read(fd, input.get() + inputAvailable, InputSize - inputAvailable);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(systemError(errno));
            return false;
        }
        if (n == 0) {
            inputAtEnd = true;
            break;
        }
        inputAvailable += std::size_t(n);
        // One read per call is enough unless the piece is tiny.
        if (inputAvailable >= 16)
            break;
    }
    return true;
}

void GzipStream::startMember()
{
    if (!state) {
        state.reset(new inflate_state);
        isal_inflate_init(state.get());
    } else {
        isal_inflate_reset(state.get());
    }
    state->crc_flag = ISAL_GZIP;
    state->next_in = inputNext;
    state->avail_in = uint32_t(inputAvailable);
    mode = Mode::Inflate;
}

// After the last member only zero bytes (padding some writers add) may follow.
bool GzipStream::checkTrailingBytes()
{
    for (;;) {
        for (std::size_t i = 0; i < inputAvailable; ++i) {
            if (inputNext[i] != 0) {
                fail(tr("Unexpected data after the compressed data"));
                return false;
            }
        }
        inputAvailable = 0;
        if (inputAtEnd)
            return true;
        if (!fillInput())
            return false;
    }
}

ssize_t GzipStream::read(const void **data)
{
    ssize_t n;
    if (readAhead) {
        n = takePiece(data);
    } else {
        if (!output)
            output.reset(new unsigned char[OutputSize]);
        n = decode(output.get(), data);
    }
    if (n > 0) {
        m_totalOut += std::uint64_t(n);
    } else if (n < 0 && !failed) {
        // The decoder is done when it reports a failure, so its text can
        // be taken over.
        failed = true;
        m_errorString = decodeError.isEmpty() ? systemError(EBADF) : decodeError;
    }
    return n;
}

ssize_t GzipStream::takePiece(const void **data)
{
    if (ended)
        return endResult;
    std::unique_lock<std::mutex> guard(lock);
    if (!started) {
        started = true;
        for (Piece &piece : pieces) {
            if (!piece.data)
                piece.data.reset(new unsigned char[OutputSize]);
        }
        produced = taken = released = 0;
        stopRequested = false;
        producing = pthread_create(&producer, nullptr, &GzipStream::startProducing, this) == 0;
    }
    if (!producing) {
        // No thread to be had: inflate here, as for a pipe.
        guard.unlock();
        readAhead = false;
        output.reset(new unsigned char[OutputSize]);
        return decode(output.get(), data);
    }
    // The piece handed out last time is done with.
    if (released != taken) {
        released = taken;
        changed.notify_all();
    }
    changed.wait(guard, [this] { return produced != taken || stopRequested; });
    if (produced == taken)
        return -1; // closed
    const Piece &piece = pieces[taken % Pieces];
    ++taken;
    if (piece.size <= 0) {
        ended = true;
        endResult = piece.size;
    }
    *data = piece.data.get();
    return piece.size;
}

void GzipStream::produce()
{
    for (;;) {
        unsigned index;
        {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [this] { return stopRequested || produced - released < Pieces; });
            if (stopRequested)
                return;
            index = produced % Pieces;
        }
        Piece &piece = pieces[index];
        const void *data = nullptr;
        const ssize_t n = decode(piece.data.get(), &data);
        if (n > 0 && data != piece.data.get())
            std::memcpy(piece.data.get(), data, std::size_t(n));
        {
            std::lock_guard<std::mutex> guard(lock);
            piece.size = n;
            ++produced;
        }
        changed.notify_all();
        if (n <= 0)
            return;
    }
}

void *GzipStream::startProducing(void *stream)
{
    static_cast<GzipStream *>(stream)->produce();
    return nullptr;
}

void GzipStream::stopProducing()
{
    if (!producing)
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        stopRequested = true;
    }
    changed.notify_all();
    pthread_join(producer, nullptr);
    producing = false;
}

ssize_t GzipStream::decode(unsigned char *out, const void **data)
{
    for (;;) {
        switch (mode) {
        case Mode::Failed:
            return -1;
        case Mode::End:
            return 0;
        case Mode::Start:
            if (!fillInput())
                return -1;
            if (inputAvailable < 2 && !inputAtEnd && !fillInput())
                return -1;
            if (inputAvailable >= 2 && inputNext[0] == 0x1f && inputNext[1] == 0x8b)
                startMember();
            else
                mode = Mode::Raw;
            break;
        case Mode::Raw:
            if (inputAvailable == 0) {
                if (inputAtEnd) {
                    mode = Mode::End;
                    return 0;
                }
                if (!fillInput())
                    return -1;
                continue;
            }
            *data = inputNext;
            {
                const ssize_t n = ssize_t(inputAvailable);
                inputNext += inputAvailable;
                inputAvailable = 0;
                return n;
            }
        case Mode::NextMember:
            if (inputAvailable < 2 && !inputAtEnd && !fillInput())
                return -1;
            if (inputAvailable == 0 && inputAtEnd) {
                mode = Mode::End;
                return 0;
            }
            if (inputAvailable >= 2 && inputNext[0] == 0x1f && inputNext[1] == 0x8b) {
                startMember();
                break;
            }
            if (!checkTrailingBytes())
                return -1;
            mode = Mode::End;
            return 0;
        case Mode::Inflate: {
            state->next_out = out;
            state->avail_out = uint32_t(OutputSize);
            while (state->avail_out > 0) {
                if (state->avail_in == 0 && !inputAtEnd) {
                    // Whatever is ready goes out before the next read, which
                    // may wait when the archive comes through a pipe.
                    if (state->avail_out < OutputSize)
                        break;
                    inputAvailable = 0;
                    if (!fillInput())
                        break;
                    state->next_in = inputNext;
                    state->avail_in = uint32_t(inputAvailable);
                }
                const uint32_t before = state->avail_out;
                const uint32_t inBefore = state->avail_in;
                const int result = isal_inflate(state.get());
                if (result < 0 || result == ISAL_NEED_DICT) {
                    fail(inflateError(result));
                    break;
                }
                if (state->block_state == ISAL_BLOCK_FINISH) {
                    inputNext = state->next_in;
                    inputAvailable = state->avail_in;
                    mode = Mode::NextMember;
                    break;
                }
                if (state->avail_out == before && state->avail_in == inBefore) {
                    // No progress: either the file ended inside the member,
                    // or the data cannot be decoded any further.
                    if (inputAtEnd && state->avail_in == 0) {
                        fail(tr("Truncated compressed data"));
                        break;
                    }
                    if (state->avail_in > 0) {
                        fail(tr("Damaged compressed data"));
                        break;
                    }
                }
            }
            // What was inflated before a failure is handed out first, so the
            // failure is reported where the damage is.
            const std::size_t produced = OutputSize - state->avail_out;
            if (produced == 0) {
                if (mode == Mode::Failed)
                    return -1;
                break;
            }
            *data = out;
            return ssize_t(produced);
        }
        }
    }
}

bool GzipStream::finish()
{
    const void *data;
    ssize_t n;
    while ((n = read(&data)) > 0) {
    }
    return n == 0;
}

ssize_t GzipStream::archiveRead(struct archive *archive, void *client, const void **buffer)
{
    auto *stream = static_cast<GzipStream *>(client);
    const ssize_t n = stream->read(buffer);
    if (n < 0)
        archive_set_error(archive, EILSEQ, "%s", stream->errorString().toLocal8Bit().constData());
    return n;
}

int GzipStream::archiveClose(struct archive *, void *client)
{
    static_cast<GzipStream *>(client)->close();
    return ARCHIVE_OK;
}

int GzipStream::openArchive(struct archive *archive)
{
    return archive_read_open(archive, this, nullptr, &GzipStream::archiveRead,
                             &GzipStream::archiveClose);
}
