#ifndef ZARVO_UTIL_FILEDATA_H
#define ZARVO_UTIL_FILEDATA_H

#include <atomic>

#include <sys/stat.h>

enum class DataResult { Done, ReadFailed, WriteFailed, Cancelled };

// Copies the data of the open file `from`, whose status is `source`, into the
// new, empty file `to`, each byte at its own offset. The kernel moves the
// data where it can; of a file with holes only the data ranges are copied,
// so that it stays sparse; `cancelRequested` is looked at between pieces of
// a few MiB. errno tells why it failed.
DataResult copyFileData(int from, int to, const struct stat &source,
                        const std::atomic<bool> &cancelRequested);

#endif
