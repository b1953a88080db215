#include "installer/transaction/spacecheck.h"

#include "installer/transaction/transactionfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <sys/statvfs.h>

namespace {

// A link target this short lives in the inode itself on the common file
// systems; a longer one takes a block.
const qint64 inlineLinkLength = 60;

bool statusOf(const QByteArray &path, struct statvfs *st)
{
    return ::statvfs(path.constData(), st) == 0;
}

} // namespace

SpaceCheck::SpaceCheck(const QString &destination)
    : m_destination(destination)
    , m_existing(QFile::encodeName(QDir::cleanPath(QFileInfo(destination).absoluteFilePath())))
{
    struct statvfs st;
    while (!statusOf(m_existing, &st) && errno == ENOENT && m_existing != "/")
        m_existing = TransactionFiles::parentPath(m_existing);
    if (statusOf(m_existing, &st) && st.f_frsize > 0)
        m_blockSize = qint64(st.f_frsize);
}

void SpaceCheck::addFile(qint64 size)
{
    m_bytes += (size + m_blockSize - 1) / m_blockSize * m_blockSize;
    ++m_entries;
}

void SpaceCheck::addDirectory()
{
    m_bytes += m_blockSize;
    ++m_entries;
}

void SpaceCheck::addLink(qint64 targetLength)
{
    if (targetLength >= inlineLinkLength)
        m_bytes += m_blockSize;
    ++m_entries;
}

QString SpaceCheck::shortage() const
{
    struct statvfs st;
    if (!statusOf(m_existing, &st))
        return QString();
    const QLocale locale;
    const qint64 freeBytes = qint64(st.f_bavail) * qint64(st.f_frsize);
    if (m_bytes > freeBytes) {
        QString needed = locale.formattedDataSize(m_bytes, 1);
        QString available = locale.formattedDataSize(freeBytes, 1);
        // Figures that round alike would say nothing.
        if (needed == available) {
            needed = tr("%1 bytes").arg(locale.toString(m_bytes));
            available = tr("%1 bytes").arg(locale.toString(freeBytes));
        }
        return tr("Not enough free space in \"%1\": the installation needs %2, %3 are free.")
            .arg(m_destination, needed, available);
    }
    // A file system without a fixed number of inodes reports none at all.
    if (st.f_files > 0 && m_entries > qint64(st.f_favail))
        return tr("Not enough free inodes in \"%1\": the installation needs %2, %3 are free.")
            .arg(m_destination, locale.toString(m_entries), locale.toString(qint64(st.f_favail)));
    return QString();
}
