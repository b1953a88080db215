#include "installer/desktop/fileassociation.h"

#include "installer/engine/installer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

void installFileAssociation(const QString &destination)
{
    // An Installer that has installed nothing has no destination, and the
    // package must not be looked for at the top of the file system.
    if (destination.isEmpty())
        return;
    const QFileInfo package(destination + QLatin1String("/lumo-mime.xml"));
    if (!package.exists())
        return;
    // Whether the desktop took the types is its own business; the package is
    // used once either way.
    QProcess::execute(QStringLiteral("xdg-mime"),
                      { QStringLiteral("install"), package.filePath() });
    QFile::remove(package.filePath());
}

void installFileAssociation(Installer &installer)
{
    installFileAssociation(installer.destination());
}
