#ifndef ZARVO_UTIL_MAKEPATH_H
#define ZARVO_UTIL_MAKEPATH_H

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Creates path and its missing parents (parents 0777, path itself mode, both
// less the umask). 0 on success, -1 with errno set on failure; an existing
// non-directory fails with EEXIST, a path below one with ENOTDIR.
int makePath(const QString &path, mode_t mode);

// True when something exists at path afterwards; missing parents are created
// with the toolkit's default directory mode.
bool ensurePath(const QString &path);
// The same for a path in the file system's own bytes.
bool ensureEncodedPath(const QByteArray &path);

#endif
