#include "installer/desktop/fileassociation.h"

#include "installer/engine/installer.h"
#include "util/childprocess.h"

#include <QFile>
#include <QFileInfo>

DesktopSteps installFileAssociation(const QString &destination)
{
    // An Installer that has installed nothing has no destination, and the
    // package must not be looked for at the top of the file system.
    if (destination.isEmpty())
        return {};
    const QFileInfo package(destination + QLatin1String("/lumo-mime.xml"));
    if (!package.exists())
        return {};
    // Whether the desktop took the types is its own business; the package is
    // used once either way.
    DesktopStep step{DesktopStep::FileAssociation, package.filePath(), QStringLiteral("xdg-mime"),
                     {QStringLiteral("install"), package.filePath()}};
    step.installMode = QString::fromLocal8Bit(qgetenv("XDG_UTILS_INSTALL_MODE"));
    const ChildRun run =
        runChild(step.program, step.arguments, ChildOutput::Forwarded, toolTimeLimitMs());
    step.status = run.status();
    step.succeeded = run.succeeded();
    QFile::remove(package.filePath());
    return {step};
}

DesktopSteps installFileAssociation(Installer &installer)
{
    return installFileAssociation(installer.destination());
}
