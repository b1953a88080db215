#include "installer/transaction/beneath.h"

#include <QByteArrayList>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace Beneath {

namespace {

const int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

QByteArrayList componentsOf(const QByteArray &relative)
{
    QByteArrayList components;
    for (const QByteArray &component : relative.split('/')) {
        if (!component.isEmpty() && component != ".")
            components << component;
    }
    return components;
}

struct Level
{
    QByteArray name;     // in the level above
    dev_t parentDevice;  // of the level above, to check the way back up
    ino_t parentInode;
    QByteArrayList directories; // still to be emptied and removed
};

// Deletes the non-directories in `fd` and lists its directories, opening
// each of them up so that its own entries can be deleted.
bool clearFiles(int fd, QByteArrayList *directories)
{
    DIR *stream = ::fdopendir(::dup(fd));
    if (!stream)
        return false;
    bool ok = true;
    while (const dirent *item = ::readdir(stream)) {
        const QByteArray name(item->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (::fstatat(fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = ok && errno == ENOENT;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            ok = (::unlinkat(fd, item->d_name, 0) == 0 || errno == ENOENT) && ok;
            continue;
        }
        if ((st.st_mode & 0700) != 0700)
            ::fchmodat(fd, item->d_name, (st.st_mode & 07777) | 0700, 0);
        *directories << name;
    }
    ::closedir(stream);
    return ok;
}

} // namespace

Descriptor openDirectory(int root, const QByteArray &relative)
{
    Descriptor current(::openat(root, ".", directoryFlags));
    for (const QByteArray &component : componentsOf(relative)) {
        if (!current.isValid())
            break;
        if (component == "..") {
            errno = EINVAL;
            return Descriptor();
        }
        current = Descriptor(::openat(current.get(), component.constData(), directoryFlags));
    }
    return current;
}

QByteArray parentOf(const QByteArray &relative)
{
    const QByteArrayList components = componentsOf(relative);
    return components.mid(0, components.size() - 1).join('/');
}

QByteArray nameOf(const QByteArray &relative)
{
    const QByteArrayList components = componentsOf(relative);
    return components.isEmpty() ? QByteArray() : components.last();
}

QByteArrayList sortedNames(int directory, bool *ok)
{
    QByteArrayList names;
    Descriptor duplicate(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
    DIR *stream = duplicate.isValid() ? ::fdopendir(duplicate.get()) : nullptr;
    *ok = stream != nullptr;
    if (!stream)
        return names;
    duplicate.release();
    ::rewinddir(stream);
    while (const dirent *item = ::readdir(stream)) {
        const QByteArray name(item->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(stream);
    std::sort(names.begin(), names.end());
    return names;
}

QByteArrayList sortedNames(int root, const QByteArray &relative, bool *ok)
{
    const Descriptor directory = openDirectory(root, relative);
    *ok = directory.isValid();
    return *ok ? sortedNames(directory.get(), ok) : QByteArrayList();
}

int Root::parentOf(const QByteArray &relative, QByteArray *name)
{
    *name = nameOf(relative);
    if (name->isEmpty()) {
        errno = EINVAL;
        return -1;
    }
    const QByteArray parent = Beneath::parentOf(relative);
    if (!m_kept || parent != m_keptPath) {
        m_keptDirectory = openDirectory(m_fd, parent);
        m_kept = m_keptDirectory.isValid();
        m_keptPath = parent;
    }
    return m_kept ? m_keptDirectory.get() : -1;
}

void Root::forget()
{
    m_kept = false;
    m_keptDirectory = Descriptor();
}

bool status(Root &root, const QByteArray &relative, struct stat *st)
{
    if (componentsOf(relative).isEmpty())
        return ::fstat(root.fd(), st) == 0;
    QByteArray name;
    const int parent = root.parentOf(relative, &name);
    return parent >= 0 && ::fstatat(parent, name.constData(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool makeDirectories(Root &root, const QByteArray &relative)
{
    Descriptor current(::openat(root.fd(), ".", directoryFlags));
    for (const QByteArray &component : componentsOf(relative)) {
        if (!current.isValid())
            return false;
        if (::mkdirat(current.get(), component.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        current = Descriptor(::openat(current.get(), component.constData(), directoryFlags));
    }
    return current.isValid();
}

bool move(Root &fromRoot, const QByteArray &from, Root &toRoot, const QByteArray &to)
{
    QByteArray fromName, toName;
    const int fromParent = fromRoot.parentOf(from, &fromName);
    const int toParent = toRoot.parentOf(to, &toName);
    struct stat st;
    if (fromParent < 0 || toParent < 0
        || ::fstatat(fromParent, fromName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    // What was kept open may be what moves, or lie below it.
    if (S_ISDIR(st.st_mode)) {
        fromRoot.forget();
        toRoot.forget();
        if (fromRoot.parentOf(from, &fromName) < 0 || toRoot.parentOf(to, &toName) < 0)
            return false;
    }
    const int source = fromRoot.parentOf(from, &fromName);
    const int target = toRoot.parentOf(to, &toName);
    if (::renameat(source, fromName.constData(), target, toName.constData()) == 0) {
        if (S_ISDIR(st.st_mode)) {
            fromRoot.forget();
            toRoot.forget();
        }
        return true;
    }
    const int refusal = errno;
    if (refusal != EACCES || !S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR)
        || st.st_uid != ::geteuid()) {
        errno = refusal;
        return false;
    }
    const mode_t mode = st.st_mode & 07777;
    if (::fchmodat(source, fromName.constData(), mode | S_IWUSR, 0) != 0)
        return false;
    const bool moved = ::renameat(source, fromName.constData(), target, toName.constData()) == 0;
    const int error = errno;
    if (moved)
        ::fchmodat(target, toName.constData(), mode, 0);
    else
        ::fchmodat(source, fromName.constData(), mode, 0);
    fromRoot.forget();
    toRoot.forget();
    errno = error;
    return moved;
}

bool removeTree(Root &root, const QByteArray &relative)
{
    QByteArray name;
    const int parentFd = root.parentOf(relative, &name);
    if (parentFd < 0)
        return errno == ENOENT;
    struct stat st;
    if (::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parentFd, name.constData(), 0) == 0 || errno == ENOENT;
    Descriptor parent(::dup(parentFd));
    root.forget();
    if ((st.st_mode & 0700) != 0700)
        ::fchmodat(parent.get(), name.constData(), (st.st_mode & 07777) | 0700, 0);

    // One directory open at a time and its way back up by "..", checked
    // against the directory it came from: a tree deeper than the number of
    // descriptors a process may hold is deleted all the same.
    struct stat parentStat;
    if (!parent.isValid() || ::fstat(parent.get(), &parentStat) != 0)
        return false;
    std::vector<Level> levels;
    levels.push_back({name, parentStat.st_dev, parentStat.st_ino, {}});
    Descriptor current(::openat(parent.get(), name.constData(), directoryFlags));
    parent = Descriptor();
    bool ok = current.isValid() && clearFiles(current.get(), &levels.back().directories);
    while (ok) {
        Level &level = levels.back();
        if (!level.directories.isEmpty()) {
            const QByteArray child = level.directories.takeFirst();
            struct stat here;
            Descriptor next(::openat(current.get(), child.constData(), directoryFlags));
            ok = next.isValid() && ::fstat(current.get(), &here) == 0;
            if (!ok)
                break;
            levels.push_back({child, here.st_dev, here.st_ino, {}});
            current = std::move(next);
            ok = clearFiles(current.get(), &levels.back().directories);
            continue;
        }
        Descriptor up(::openat(current.get(), "..", directoryFlags));
        struct stat upStat;
        ok = up.isValid() && ::fstat(up.get(), &upStat) == 0 && upStat.st_dev == level.parentDevice
            && upStat.st_ino == level.parentInode
            && ::unlinkat(up.get(), level.name.constData(), AT_REMOVEDIR) == 0;
        if (!ok)
            break;
        current = std::move(up);
        levels.pop_back();
        if (levels.empty())
            return true;
    }
    return false;
}

bool setDirectoryAttributes(Root &root, const QByteArray &relative, mode_t mode,
                            const struct timespec *times)
{
    const Descriptor directory = openDirectory(root.fd(), relative);
    struct stat st;
    if (!directory.isValid() || ::fstat(directory.get(), &st) != 0)
        return false;
    if ((st.st_mode & 07777) != (mode & 07777) && ::fchmod(directory.get(), mode & 07777) != 0)
        return false;
    return !times || ::futimens(directory.get(), times) == 0;
}

void lendWritePermission(Root &root, const QByteArray &relative)
{
    const Descriptor directory = openDirectory(root.fd(), relative);
    struct stat st;
    if (directory.isValid() && ::fstat(directory.get(), &st) == 0 && !(st.st_mode & S_IWUSR))
        ::fchmod(directory.get(), (st.st_mode & 07777) | S_IWUSR);
}

bool syncDirectory(int fd)
{
    return ::fsync(fd) == 0;
}

} // namespace Beneath
