#ifndef ZARVO_UTIL_FILEDATA_H
#define ZARVO_UTIL_FILEDATA_H

#include <atomic>

#include <sys/stat.h>

class ContentHash;

enum class DataResult { Done, ReadFailed, WriteFailed, Cancelled };

// Copies the data of the open file `from`, whose status is `source`, into the
// new, empty file `to`, each byte at its own offset. The kernel moves the
// data where it can; of a file with holes only the data ranges are copied,
// so that it stays sparse; `cancelRequested` is looked at between pieces of
// a few MiB. With `hash`, the data is read and written by this process and
// hashed as it passes (holes as the zeros they read as). errno tells why it
// failed.
DataResult copyFileData(int from, int to, const struct stat &source,
                        const std::atomic<bool> &cancelRequested, ContentHash *hash = nullptr);

// Starts writing a complete file's data to disk without waiting for it, so
// that a later flush of the whole file system has less to wait for.
void startWriteBack(int fd);

#endif
