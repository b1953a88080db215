#include "util/contenthash.h"

#include <xxhash.h>

#include <cerrno>
#include <unistd.h>

namespace {

const char prefix[] = "xxh128:";
const int digits = 32;

} // namespace

ContentHash::ContentHash()
    : m_state(XXH3_createState())
{
    XXH3_128bits_reset(m_state);
}

ContentHash::~ContentHash()
{
    XXH3_freeState(m_state);
}

void ContentHash::add(const void *data, size_t size)
{
    XXH3_128bits_update(m_state, data, size);
    m_size += qint64(size);
}

void ContentHash::addZerosUpTo(qint64 offset)
{
    static const char zeros[64 * 1024] = {};
    while (m_size < offset)
        add(zeros, size_t(qMin<qint64>(offset - m_size, sizeof zeros)));
}

QByteArray ContentHash::finish()
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(m_state));
    XXH3_128bits_reset(m_state);
    m_size = 0;
    return QByteArray(prefix)
        + QByteArray(reinterpret_cast<const char *>(canonical.digest), sizeof canonical.digest)
              .toHex();
}

QByteArray ContentHash::ofDescriptor(int fd)
{
    ContentHash hash;
    char buffer[256 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return hash.finish();
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QByteArray();
        hash.add(buffer, size_t(got));
    }
}

QByteArray ContentHash::ofBytes(const QByteArray &data)
{
    ContentHash hash;
    hash.add(data.constData(), size_t(data.size()));
    return hash.finish();
}

bool ContentHash::isWellFormed(const QByteArray &text)
{
    if (text.size() != int(sizeof prefix) - 1 + digits || !text.startsWith(prefix))
        return false;
    for (int i = int(sizeof prefix) - 1; i < text.size(); ++i) {
        const char c = text.at(i);
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}
