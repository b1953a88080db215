#ifndef ZARVO_UTIL_CONTENTHASH_H
#define ZARVO_UTIL_CONTENTHASH_H

#include <QByteArray>

#include <cstddef>

struct XXH3_state_s;

// The content hash of the installation record: 128-bit XXH3 (libxxhash). It
// tells a changed or damaged file from the one installed; it is no signature,
// and fast enough to run over every byte while the data passes.
class ContentHash
{
public:
    ContentHash();
    ~ContentHash();
    ContentHash(const ContentHash &) = delete;
    ContentHash &operator=(const ContentHash &) = delete;

    void add(const void *data, size_t size);
    // A sparse file's holes read as zeros: feeds them up to `offset`.
    void addZerosUpTo(qint64 offset);
    // Bytes fed since the start.
    qint64 size() const { return m_size; }
    // "xxh128:" and 32 hexadecimal digits; the next add starts a new hash.
    QByteArray finish();

    // The hash of what `fd` reads from its offset to its end; empty, with
    // errno set, when reading fails.
    static QByteArray ofDescriptor(int fd);
    static QByteArray ofBytes(const QByteArray &data);
    // Whether `text` has the form finish() gives.
    static bool isWellFormed(const QByteArray &text);

private:
    XXH3_state_s *m_state;
    qint64 m_size = 0;
};

#endif
