#include "util/treepermissions.h"

#include "util/makepath.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void TreePermissions::setGroup(gid_t group)
{
    m_hasGroup = true;
    m_group = group;
}

mode_t TreePermissions::fixedMode(bool directoryOrExecutable) const
{
    const mode_t others = m_hasGroup ? 0 : 05;
    return directoryOrExecutable ? 0750 | others : 0640 | (others & 04);
}

mode_t TreePermissions::fileMode(mode_t original, mode_t umask) const
{
    const bool executable = S_ISDIR(original) || (original & S_IXUSR);
    if (isFixed())
        return fixedMode(executable);
    return (executable ? 0777 : 0666) & ~umask & 0777;
}

mode_t TreePermissions::entryMode(mode_t stored) const
{
    if (!isFixed() || S_ISLNK(stored))
        return stored & 07777;
    return fixedMode(S_ISDIR(stored) || (stored & S_IXUSR));
}

bool TreePermissions::settle(const QByteArray &path, mode_t mode) const
{
    // The group first: a later change of owner could clear mode bits.
    return settleGroup(path) && ::chmod(path.constData(), mode) == 0;
}

bool TreePermissions::settleDescriptor(int fd, mode_t mode) const
{
    if (m_hasGroup && ::fchown(fd, uid_t(-1), m_group) != 0)
        return false;
    return ::fchmod(fd, mode) == 0;
}

bool TreePermissions::settleCreatedFile(int fd, mode_t mode, mode_t umask) const
{
    if (m_hasGroup && ::fchown(fd, uid_t(-1), m_group) != 0)
        return false;
    return (mode & umask) == 0 || ::fchmod(fd, mode) == 0;
}

bool TreePermissions::settleDirectoryDescriptor(int fd) const
{
    return !isFixed() || settleDescriptor(fd, fixedMode(true));
}

bool TreePermissions::settleDirectory(const QByteArray &path) const
{
    return !isFixed() || settle(path, fixedMode(true));
}

bool TreePermissions::settleFile(const QByteArray &path) const
{
    return !isFixed() || settle(path, fixedMode(false));
}

bool TreePermissions::settleGroup(const QByteArray &path) const
{
    return !m_hasGroup || ::lchown(path.constData(), uid_t(-1), m_group) == 0;
}

int TreePermissions::makePath(const QString &path) const
{
    if (!isFixed())
        return ::makePath(path, 0755);
    // What is missing now is what this call creates, nearest to path first.
    QStringList missing;
    for (QString at = path; !QFileInfo::exists(at);) {
        missing.append(at);
        const QString parent = QFileInfo(at).path();
        if (parent == at)
            break;
        at = parent;
    }
    // Only the owner can enter until everything is settled.
    if (::makePath(path, 0700) != 0)
        return -1;
    for (auto it = missing.crbegin(); it != missing.crend(); ++it) {
        if (!settleDirectory(QFile::encodeName(*it)))
            return -1;
    }
    return settleDirectory(QFile::encodeName(path)) ? 0 : -1;
}

bool TreePermissions::makeParents(const QByteArray &top, const QByteArray &path) const
{
    if (!isFixed())
        return true;
    const int slash = path.lastIndexOf('/');
    if (slash <= top.size())
        return true;
    const QByteArray parent = path.left(slash);
    struct stat st;
    if (::lstat(parent.constData(), &st) == 0)
        return true;
    if (!makeParents(top, parent))
        return false;
    if (::mkdir(parent.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return settleDirectory(parent);
}

bool TreePermissions::lookUpGroup(const QString &name, gid_t *group, QString *problem)
{
    std::vector<char> buffer(16384);
    struct group entry;
    struct group *found = nullptr;
    const QByteArray encoded = name.toLocal8Bit();
    while (::getgrnam_r(encoded.constData(), &entry, buffer.data(), buffer.size(), &found)
           == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (name.isEmpty() || !found) {
        *problem = tr("There is no group \"%1\" on this machine.").arg(name);
        return false;
    }
    *group = found->gr_gid;
    if (::geteuid() == 0 || ::getegid() == *group)
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        for (const gid_t member : groups) {
            if (member == *group)
                return true;
        }
    }
    *problem = tr("You are not a member of the group \"%1\", so the installation cannot be "
                  "given to it.")
                   .arg(name);
    return false;
}
