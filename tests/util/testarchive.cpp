#include "tests/util/testarchive.h"

#include <QDirIterator>
#include <QFile>

#include <cstring>
#include <sys/stat.h>
#include <zlib.h>

namespace {

const int blockSize = 512;

void putOctal(char *field, int width, qint64 value)
{
    const QByteArray text = QByteArray::number(value, 8).rightJustified(width - 1, '0');
    std::memcpy(field, text.constData(), size_t(width - 1));
    field[width - 1] = '\0';
}

void putText(char *field, int width, const QByteArray &text)
{
    std::memcpy(field, text.constData(), size_t(qMin(width, text.size())));
}

QByteArray padded(QByteArray data)
{
    if (data.size() % blockSize)
        data.append(blockSize - data.size() % blockSize, '\0');
    return data;
}

QByteArray header(const QByteArray &name, char typeflag, mode_t perm, qint64 size, time_t mtime,
                  const QByteArray &linkTarget)
{
    char h[blockSize] = {};
    putText(h, 100, name);
    putOctal(h + 100, 8, perm);
    putOctal(h + 108, 8, 0);
    putOctal(h + 116, 8, 0);
    putOctal(h + 124, 12, size);
    putOctal(h + 136, 12, mtime);
    h[156] = typeflag;
    putText(h + 157, 100, linkTarget);
    std::memcpy(h + 257, "ustar\0" "00", 8);
    putText(h + 265, 32, "root");
    putText(h + 297, 32, "root");
    if (typeflag == '3' || typeflag == '4') {
        putOctal(h + 329, 8, 1);
        putOctal(h + 337, 8, 3);
    }
    std::memset(h + 148, ' ', 8);
    unsigned sum = 0;
    for (int i = 0; i < blockSize; ++i)
        sum += static_cast<unsigned char>(h[i]);
    putOctal(h + 148, 7, sum);
    h[155] = ' ';
    return QByteArray(h, blockSize);
}

// "LEN key=value\n", where LEN counts the whole record including itself.
QByteArray paxRecord(const QByteArray &key, const QByteArray &value)
{
    const int rest = key.size() + value.size() + 3;
    int length = rest + 1;
    while (QByteArray::number(length).size() + rest != length)
        ++length;
    return QByteArray::number(length) + ' ' + key + '=' + value + '\n';
}

} // namespace

TestArchive &TestArchive::file(const QByteArray &name, const QByteArray &data, mode_t perm,
                               time_t mtime)
{
    m_entries.append({name, '0', perm, data, QByteArray(), mtime});
    return *this;
}

TestArchive &TestArchive::directory(const QByteArray &name, mode_t perm, time_t mtime)
{
    m_entries.append({name, '5', perm, QByteArray(), QByteArray(), mtime});
    return *this;
}

TestArchive &TestArchive::symlink(const QByteArray &name, const QByteArray &target)
{
    m_entries.append({name, '2', 0777, QByteArray(), target, 1500000000});
    return *this;
}

TestArchive &TestArchive::hardlink(const QByteArray &name, const QByteArray &target,
                                   const QByteArray &data)
{
    m_entries.append({name, '1', 0644, data, target, 1500000000});
    return *this;
}

TestArchive &TestArchive::special(const QByteArray &name, char typeflag)
{
    m_entries.append({name, typeflag, 0666, QByteArray(), QByteArray(), 1500000000});
    return *this;
}

TestArchive TestArchive::withPlaceholder(const QByteArray &placeholder,
                                         const QByteArray &value) const
{
    TestArchive copy(*this);
    for (Entry &entry : copy.m_entries) {
        entry.name.replace(placeholder, value);
        entry.linkTarget.replace(placeholder, value);
    }
    return copy;
}

TestArchive TestArchive::withoutLast() const
{
    TestArchive copy(*this);
    if (!copy.m_entries.isEmpty())
        copy.m_entries.removeLast();
    return copy;
}

QByteArray TestArchive::tar() const
{
    QByteArray stream;
    for (const Entry &e : m_entries) {
        QByteArray extended;
        if (e.name.size() > 100)
            extended += paxRecord("path", e.name);
        if (e.linkTarget.size() > 100)
            extended += paxRecord("linkpath", e.linkTarget);
        // Readers take the data of a hard link only from a pax archive.
        if (e.typeflag == '1' && !e.data.isEmpty())
            extended += paxRecord("size", QByteArray::number(e.data.size()));
        if (!extended.isEmpty()) {
            stream += header("PaxHeader", 'x', 0644, extended.size(), e.mtime, QByteArray());
            stream += padded(extended);
        }
        stream += header(e.name.left(100), e.typeflag, e.perm, e.data.size(), e.mtime,
                         e.linkTarget.left(100));
        stream += padded(e.data);
    }
    stream += QByteArray(2 * blockSize, '\0');
    return stream;
}

bool TestArchive::write(const QString &path) const
{
    QFile file(path);
    const QByteArray data = gzipped(tar());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray gzipped(const QByteArray &data)
{
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    // 15 window bits, +16 for a gzip header and trailer.
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

QStringList snapshot(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st = {};
        ::lstat(QFile::encodeName(path).constData(), &st);
        QString line = QStringLiteral("%1 %2").arg(QDir(root).relativeFilePath(path)).arg(st.st_mode, 0, 8);
        QFile file(path);
        if (S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly))
            line += QLatin1Char(' ') + QString::fromLatin1(file.readAll().toHex());
        found << line;
    }
    found.sort();
    return found;
}
