#include "util/makepath.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace {

bool isDirectory(const QByteArray &path, bool *exists)
{
    struct stat st;
    *exists = ::stat(path.constData(), &st) == 0;
    return *exists && S_ISDIR(st.st_mode);
}

// The directory part of path; trailing slashes belong to the last component,
// so "a/b/" has the parent "a", not "a/b".
QByteArray parentOf(const QByteArray &path)
{
    int end = path.size();
    while (end > 1 && path.at(end - 1) == '/')
        --end;
    const int slash = path.lastIndexOf('/', end - 1);
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

int makePathBytes(const QByteArray &path, mode_t mode)
{
    if (path.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    bool exists = false;
    if (isDirectory(path, &exists))
        return 0;
    if (exists) {
        errno = EEXIST;
        return -1;
    }
    // A parent that is no directory: the system's own reason.
    if (errno == ENOTDIR)
        return -1;
    const QByteArray parent = parentOf(path);
    if (parent != path) {
        const int result = makePathBytes(parent, 0777);
        if (result != 0)
            return result;
    }
    return ::mkdir(path.constData(), mode);
}

bool ensurePathBytes(const QByteArray &path)
{
    if (path.isEmpty())
        return false;
    bool exists = false;
    isDirectory(path, &exists);
    if (exists)
        return true;
    const QByteArray parent = parentOf(path);
    if (parent != path && !ensurePathBytes(parent))
        return false;
    return ::mkdir(path.constData(), 0777) == 0;
}

} // namespace

int makePath(const QString &path, mode_t mode)
{
    return makePathBytes(QFile::encodeName(path), mode);
}

bool ensurePath(const QString &path)
{
    return ensurePathBytes(QFile::encodeName(path));
}

bool ensureEncodedPath(const QByteArray &path)
{
    return ensurePathBytes(path);
}
