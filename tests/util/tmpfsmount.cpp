#include "tests/util/tmpfsmount.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>

namespace {

void privateMounts()
{
    static const bool done = ::unshare(CLONE_NEWNS) == 0
            && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    Q_UNUSED(done);
}

} // namespace

TmpfsMount::TmpfsMount(const QString &directory, const QByteArray &size)
    : m_directory(QFile::encodeName(directory))
    , m_mounted(false)
{
    privateMounts();
    const QByteArray options = "size=" + size + ",mode=0755";
    if (QDir().mkpath(directory) && ::mount("tmpfs", m_directory.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
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
