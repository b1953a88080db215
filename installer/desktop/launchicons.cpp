#include "installer/desktop/launchicons.h"

#include "installer/desktop/desktopentry.h"
#include "installer/engine/installer.h"
#include "installer/engine/userprompt.h"
#include "installer/installationsource.h"
#include "installer/productidentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <cstdlib>

namespace {

const int launchIconSizes[] = { 16, 24, 32, 48 };

const char desktopFileName[] = "corvane-zarvo.desktop";
const char iconFileName[] = "corvane-zarvo.png";
const char programName[] = "corvane-zarvo";

void tellMissingFiles(Installer &installer, const QString &text)
{
    installer.prompt().tell(installer.parent(), UserPrompt::Critical,
                            QCoreApplication::translate("Installer", "Missing Installation Files"),
                            text);
}

void tellInstallationError(Installer &installer, const QString &text)
{
    installer.prompt().tell(installer.parent(), UserPrompt::Critical,
                            QCoreApplication::translate("Installer", "Installation Error"), text);
}

// putenv keeps the string itself in the environment, so it must live as long
// as the process: static storage, one per mode.
void setXdgInstallMode(int installMode)
{
    static char userMode[] = "XDG_UTILS_INSTALL_MODE=user";
    static char systemMode[] = "XDG_UTILS_INSTALL_MODE=system";
    putenv(installMode ? userMode : systemMode);
}

} // namespace

bool desktopSessionPresent()
{
    const QString kde = QString::fromLocal8Bit(std::getenv("KDE_FULL_SESSION"));
    const QString gnome = QString::fromLocal8Bit(std::getenv("GNOME_DESKTOP_SESSION_ID"));
    // Current GNOME and KDE sessions set only the freedesktop.org variable.
    const QString current = QString::fromLocal8Bit(std::getenv("XDG_CURRENT_DESKTOP"));
    return kde == QLatin1String("true") || !gnome.isEmpty() || !current.isEmpty();
}

bool isBuildTree(const QString &applicationDir)
{
    // The same places, in the same order, as the installation-source search.
    const QStringList candidates = searchDirectories(applicationDir);
    for (const QString &candidate : candidates) {
        if (QFileInfo::exists(candidate + QLatin1String("/Makefile")))
            return true;
    }
    return false;
}

bool isBuildTree()
{
    return isBuildTree(QCoreApplication::applicationDirPath());
}

void installLaunchIcons(Installer &installer, const QString &installDir,
                        const QString &applicationDir)
{
    if (!isBuildTree(applicationDir))
        rewriteDesktopEntry(installer, installDir, QLatin1String(desktopFileName),
                            QLatin1String(programName));
    installIconsAndMenuEntry(installer, installDir, QLatin1String(desktopFileName),
                             QLatin1String(iconFileName));
}

void installLaunchIcons(Installer &installer, const QString &installDir)
{
    installLaunchIcons(installer, installDir, QCoreApplication::applicationDirPath());
}

void installIconsAndMenuEntry(Installer &installer, const QString &installDir,
                              const QString &desktopFileName, const QString &iconFileName)
{
    if (!desktopSessionPresent())
        return;

    const QString iconsDir = installDir + QLatin1String("/icons");
    const QString toolsDir = installDir + QLatin1String("/libexec");
    const QString iconTool = toolsDir + QLatin1String("/xdg-icon-resource");
    const QString menuTool = toolsDir + QLatin1String("/xdg-desktop-menu");

    if (!QFileInfo::exists(iconsDir)) {
        tellMissingFiles(installer,
                         QCoreApplication::translate("Installer",
                                                     "%1 icon files not found in \"%2\".")
                                 .arg(QLatin1String(productIdentity.productName), iconsDir));
        return;
    }
    if (!QFileInfo::exists(iconTool)) {
        tellMissingFiles(installer,
                         QCoreApplication::translate(
                                 "Installer",
                                 "Required script xdg-icon-resource not found in \"%1\".")
                                 .arg(toolsDir));
        return;
    }
    if (!QFileInfo::exists(menuTool)) {
        tellMissingFiles(installer,
                         QCoreApplication::translate(
                                 "Installer",
                                 "Required script xdg-desktop-menu not found in \"%1\".")
                                 .arg(toolsDir));
        return;
    }

    // The icon tool decides between the per-user and the system-wide icon
    // theme by the same setting as the menu tool; without it, root's icons
    // would go into the system's theme beside a menu entry in root's home.
    setXdgInstallMode(installer.installMode());

    for (const int size : launchIconSizes) {
        const QString sizeText = QString::number(size);
        const QString iconFile = iconsDir + QLatin1Char('/') + sizeText + QLatin1Char('x')
                + sizeText + QLatin1Char('/') + iconFileName;
        const int status = QProcess::execute(
                iconTool, { QStringLiteral("install"), QStringLiteral("--size"), sizeText,
                            iconFile });
        if (status != 0) {
            tellInstallationError(installer,
                                  QCoreApplication::translate(
                                          "Installer", "xdg-icon-resource exited with status %1.")
                                          .arg(status));
            return;
        }
    }

    const int status = QProcess::execute(
            menuTool, { QStringLiteral("install"), iconsDir + QLatin1Char('/') + desktopFileName });
    if (status != 0) {
        tellInstallationError(installer,
                              QCoreApplication::translate("Installer",
                                                          "xdg-desktop-menu exited with status %1.")
                                      .arg(status));
    }
}
