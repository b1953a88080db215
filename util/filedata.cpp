#include "util/filedata.h"

#include "util/contenthash.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A cancel request is looked at between two pieces of a file, so that it
// waits for one piece at most, well under a second even on a slow disk.
constexpr off_t copyPiece = 8 << 20;

// One file's data transfer. The kernel moves the data itself, without a
// trip through this process, where it can.
struct DataCopy
{
    int from;
    int to;
    const std::atomic<bool> &cancelRequested;
    bool byKernel;
    int pieces;
    ContentHash *hash;
};

// Reads and writes up to `length` bytes at `offset`, where the kernel cannot
// copy between the two files. The count moved (less at the end of the
// source), or -1 with *failure saying which side failed.
ssize_t moveByBlocks(int from, int to, off_t offset, size_t length, DataResult *failure,
                     ContentHash *hash)
{
    // As large as cp's, so the loop costs no more system calls than cp.
    char buffer[256 * 1024];
    size_t moved = 0;
    while (moved < length) {
        const ssize_t got = ::pread(from, buffer, std::min(sizeof buffer, length - moved),
                                    offset + off_t(moved));
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            *failure = DataResult::ReadFailed;
            return -1;
        }
        if (hash)
            hash->add(buffer, size_t(got));
        // A short write is not a failure; the next one tells whether the disk is full.
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::pwrite(to, buffer + written, size_t(got - written),
                                         offset + off_t(moved) + written);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                *failure = DataResult::WriteFailed;
                return -1;
            }
            written += put;
        }
        moved += size_t(got);
    }
    return ssize_t(moved);
}

// Copies the bytes from `offset` up to `end` to the same offsets, piece by
// piece; *ended when the source ends before. errno tells why it failed.
DataResult copyRange(DataCopy &copy, off_t offset, off_t end, bool *ended)
{
    if (copy.hash)
        copy.hash->addZerosUpTo(offset);
    while (offset < end) {
        if (copy.pieces++ > 0 && copy.cancelRequested.load())
            return DataResult::Cancelled;
        const size_t length = size_t(std::min(end - offset, copyPiece));
        if (copy.byKernel) {
            off_t in = offset;
            off_t out = offset;
            const ssize_t put = ::copy_file_range(copy.from, &in, copy.to, &out, length, 0);
            if (put > 0 || (put < 0 && errno == EINTR)) {
                offset += std::max<ssize_t>(put, 0);
                continue;
            }
            if (put < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG))
                return DataResult::WriteFailed;
            // Refused (other file system, not supported), failed, or no data
            // where the size promises some (procfs, sysfs): reading tells.
            copy.byKernel = false;
        }
        DataResult failure = DataResult::Done;
        const ssize_t moved = moveByBlocks(copy.from, copy.to, offset, length, &failure,
                                           copy.hash);
        if (moved < 0)
            return failure;
        if (size_t(moved) < length) {
            *ended = true;
            return DataResult::Done;
        }
        offset += moved;
    }
    return DataResult::Done;
}

} // namespace

DataResult copyFileData(int from, int to, const struct stat &source,
                        const std::atomic<bool> &cancelRequested, ContentHash *hash)
{
    // Hashing needs the data in this process: a read/write loop that hashes
    // it on the way costs about what the kernel's copy does.
    DataCopy copy{from, to, cancelRequested, hash == nullptr, 0, hash};
    bool ended = false;
    // Some file systems give a size of 0 to files that have data.
    if (source.st_size == 0)
        return copyRange(copy, 0, std::numeric_limits<off_t>::max(), &ended);
    if (off_t(source.st_blocks) * 512 >= source.st_size)
        return copyRange(copy, 0, source.st_size, &ended);
    // Fewer blocks than bytes: the file has holes.
    for (off_t offset = 0; offset < source.st_size && !ended;) {
        off_t data = ::lseek(copy.from, offset, SEEK_DATA);
        if (data < 0)
            data = errno == ENXIO ? source.st_size : offset;
        if (data >= source.st_size)
            break;
        off_t hole = ::lseek(copy.from, data, SEEK_HOLE);
        if (hole <= data || hole > source.st_size)
            hole = source.st_size;
        const DataResult result = copyRange(copy, data, hole, &ended);
        if (result != DataResult::Done)
            return result;
        offset = hole;
    }
    // A hole at the end is made by the size alone.
    if (!ended && ::ftruncate(copy.to, source.st_size) != 0)
        return DataResult::WriteFailed;
    if (hash && !ended)
        hash->addZerosUpTo(source.st_size);
    return DataResult::Done;
}

void startWriteBack(int fd)
{
    // Advisory: a file system that cannot start it now writes the data later.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}
