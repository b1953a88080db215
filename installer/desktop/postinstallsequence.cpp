#include "installer/desktop/postinstallsequence.h"

#include "installer/desktop/fileassociation.h"
#include "installer/desktop/launchicons.h"
#include "installer/desktop/postinstallscript.h"
#include "installer/engine/installer.h"
#include "installer/engine/userprompt.h"
#include "installer/productidentity.h"

#include <QCoreApplication>

QString missingLibrariesWarning(const QStringList &libraries)
{
    const QString productName = QLatin1String(productIdentity.productName);
    if (libraries.isEmpty())
        return QString();
    // Both values in one pass: a '%' in a library name is not a placeholder.
    if (libraries.size() == 1) {
        return QCoreApplication::translate("InstallerWizard",
                                           "The shared library %1 is not installed.\n"
                                           "%2 may not run correctly without this library.")
                .arg(libraries.first(), productName);
    }
    return QCoreApplication::translate("InstallerWizard",
                                       "The shared libraries %1 are not installed.\n"
                                       "%2 may not run correctly without these libraries.")
            .arg(libraries.join(QCoreApplication::translate("InstallerWizard", ", ")),
                 productName);
}

void runPostInstallSequence(Installer &installer, const QString &installDir,
                            const QStringList &missingLibraries, const QString &destination,
                            const std::function<void(const QString &)> &showStatus)
{
    const QString warning = missingLibrariesWarning(missingLibraries);
    if (!warning.isEmpty()) {
        installer.prompt().tell(nullptr, UserPrompt::Warning,
                                QCoreApplication::translate("InstallerWizard",
                                                            "Missing Dependancies"),
                                warning);
    }

    // Without a desktop session only the desktop entry is rewritten.
    if (desktopSessionPresent())
        showStatus(QCoreApplication::translate("InstallerWizard", "Adding icons to desktop menu"));
    installLaunchIcons(installer, installDir);

    showStatus(QCoreApplication::translate("InstallerWizard", "Creating file association"));
    installFileAssociation(destination);

    showStatus(QCoreApplication::translate("InstallerWizard",
                                           "Cleaning up files from previous installation(s)"));
    runPostInstallScript(destination);

    showStatus(QCoreApplication::translate("InstallerWizard", "Finished"));
}

void runPostInstallSequence(Installer &installer, const QString &installDir,
                            const std::function<void(const QString &)> &showStatus)
{
    runPostInstallSequence(installer, installDir, installer.missingLibraries(),
                           installer.destination(), showStatus);
}
