#include "installer/desktop/postinstallscript.h"

#include "installer/engine/installer.h"
#include "util/childprocess.h"

#include <QFile>
#include <QFileInfo>

DesktopSteps runPostInstallScript(const QString &destination)
{
    // Without a destination the path would name a script at the top of the
    // file system, which no installation of ours put there.
    if (destination.isEmpty())
        return {};
    const QFileInfo script(destination + QLatin1String("/post-install.sh"));
    // A script without execute permission is not ours to run, nor to delete.
    if (!script.isExecutable())
        return {};
    DesktopStep step{DesktopStep::PostInstallScript, script.filePath(), script.filePath()};
    step.installMode = QString::fromLocal8Bit(qgetenv("XDG_UTILS_INSTALL_MODE"));
    // What the script does is the installation's business, however long it
    // takes; it can only not wait for input that never comes.
    const ChildRun run = runChild(script.filePath(), QStringList(), ChildOutput::Forwarded, -1);
    step.status = run.status();
    step.succeeded = run.succeeded();
    QFile::remove(script.filePath());
    return {step};
}

DesktopSteps runPostInstallScript(Installer &installer)
{
    return runPostInstallScript(installer.destination());
}
