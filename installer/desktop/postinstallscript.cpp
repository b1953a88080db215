#include "installer/desktop/postinstallscript.h"

#include "installer/engine/installer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

void runPostInstallScript(const QString &destination)
{
    // Without a destination the path would name a script at the top of the
    // file system, which no installation of ours put there.
    if (destination.isEmpty())
        return;
    const QFileInfo script(destination + QLatin1String("/post-install.sh"));
    // A script without execute permission is not ours to run, nor to delete.
    if (!script.isExecutable())
        return;
    QProcess::execute(script.filePath(), QStringList());
    QFile::remove(script.filePath());
}

void runPostInstallScript(Installer &installer)
{
    runPostInstallScript(installer.destination());
}
