#include "installer/installationsource.h"

#include "installer/productidentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// An archive, or the launcher of an unpacked tree. QFileInfo::exists follows
// links, so a dangling launcher link does not count.
bool holdsInstallationFiles(const QString &dir)
{
    return QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(productIdentity.archiveName))
        || QFileInfo::exists(dir + QLatin1String("/bin/pesk"))
        || QFileInfo::exists(dir + QLatin1String("/bin/lumo"));
}

} // namespace

QStringList searchDirectories(const QString &applicationDir)
{
    QStringList candidates;
    // A directory whose path cannot be determined (a working directory that
    // was deleted) is empty here, and would make the root directory a place to
    // look: it and its parent are left out.
    for (const QString &dir : {applicationDir, QDir::currentPath()}) {
        if (!dir.isEmpty())
            candidates << dir << QFileInfo(dir).path();
    }
    return candidates;
}

QString findInstallationSource()
{
    // The program's own place first, so that a program in bin/ or libexec/
    // of an unpacked tree, or beside the archive, finds its own files.
    const QStringList candidates = searchDirectories(QCoreApplication::applicationDirPath());
    for (const QString &candidate : candidates) {
        if (holdsInstallationFiles(candidate))
            return candidate;
    }
    return QString();
}
