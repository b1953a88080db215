#include "installer/desktop/postinstallsequence.h"

#include "installer/desktop/fileassociation.h"
#include "installer/desktop/launchicons.h"
#include "installer/desktop/postinstallscript.h"
#include "installer/engine/installer.h"
#include "installer/engine/userprompt.h"
#include "installer/productidentity.h"

#include <QCoreApplication>

namespace {

QString separator()
{
    return QCoreApplication::translate("InstallerWizard", ", ");
}

// "Not installed: version GLIBC_2.99 of libc.so.6 (required by gdb)."
QString missingVersionsSentence(const QVector<MissingVersion> &versions)
{
    QStringList named;
    for (const MissingVersion &missing : versions) {
        named << QCoreApplication::translate("InstallerWizard", "version %1 of %2 (required by %3)")
                         .arg(missing.version, missing.library, missing.requiredBy);
    }
    return QCoreApplication::translate("InstallerWizard", "Not installed: %1.")
            .arg(named.join(separator()));
}

} // namespace

QString missingLibrariesWarning(const QStringList &libraries,
                                const QVector<MissingVersion> &versions)
{
    const QString productName = QLatin1String(productIdentity.productName);
    if (libraries.isEmpty())
        return QString();
    // Both values in one pass: a '%' in a library name is not a placeholder.
    QString warning = libraries.size() == 1
            ? QCoreApplication::translate("InstallerWizard",
                                          "The shared library %1 is not installed.\n"
                                          "%2 may not run correctly without this library.")
                      .arg(libraries.first(), productName)
            : QCoreApplication::translate("InstallerWizard",
                                          "The shared libraries %1 are not installed.\n"
                                          "%2 may not run correctly without these libraries.")
                      .arg(libraries.join(separator()), productName);
    // A library that is there but too old is named as missing above; this
    // says what exactly it lacks.
    if (!versions.isEmpty())
        warning += QLatin1Char('\n') + missingVersionsSentence(versions);
    return warning;
}

DesktopSteps runPostInstallSequence(Installer &installer, const QString &installDir,
                                    const QStringList &missingLibraries,
                                    const QVector<MissingVersion> &missingVersions,
                                    const QString &destination,
                                    const std::function<void(const QString &)> &showStatus,
                                    const PostInstallChoices &choices)
{
    const QString warning = missingLibrariesWarning(missingLibraries, missingVersions);
    if (!warning.isEmpty()) {
        installer.prompt().tell(nullptr, UserPrompt::Warning,
                                QCoreApplication::translate("InstallerWizard",
                                                            "Missing Dependancies"),
                                warning);
    }

    DesktopSteps steps;
    if (choices.desktop) {
        // Without a desktop session only the desktop entry is rewritten.
        if (desktopSessionPresent())
            showStatus(QCoreApplication::translate("InstallerWizard", "Adding icons to desktop menu"));
        steps += installLaunchIcons(installer, installDir);

        showStatus(QCoreApplication::translate("InstallerWizard", "Creating file association"));
        steps += installFileAssociation(destination);
    } else {
        steps += installLaunchIcons(installer, installDir, QCoreApplication::applicationDirPath(),
                                    false);
    }

    if (choices.postInstallScript) {
        showStatus(QCoreApplication::translate("InstallerWizard",
                                               "Cleaning up files from previous installation(s)"));
        steps += runPostInstallScript(destination);
    }

    showStatus(QCoreApplication::translate("InstallerWizard", "Finished"));
    return steps;
}

DesktopSteps runPostInstallSequence(Installer &installer, const QString &installDir,
                                    const std::function<void(const QString &)> &showStatus,
                                    const PostInstallChoices &choices)
{
    return runPostInstallSequence(installer, installDir, installer.missingLibraries(),
                                  installer.missingVersions(), installer.destination(),
                                  showStatus, choices);
}
