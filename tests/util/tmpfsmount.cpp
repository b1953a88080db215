#include "tests/util/tmpfsmount.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

TmpfsMount::TmpfsMount(const QString &directory, const QByteArray &size)
    : m_directory(QFile::encodeName(directory))
    , m_mounted(false)
{
    const QByteArray options = "size=" + size + ",mode=0755";
    if (::mount("tmpfs", m_directory.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData())
        == 0)
        m_mounted = true;
    else
        m_refusal = QString::fromLocal8Bit(std::strerror(errno));
}

TmpfsMount::~TmpfsMount()
{
    if (m_mounted)
        ::umount2(m_directory.constData(), MNT_DETACH);
}
