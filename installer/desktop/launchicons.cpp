#include "installer/desktop/launchicons.h"

#include "installer/desktop/desktopentry.h"
#include "installer/engine/installer.h"
#include "installer/engine/userprompt.h"
#include "installer/installationsource.h"
#include "installer/productidentity.h"

#include "util/childprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>

namespace {

const int launchIconSizes[] = { 16, 24, 32, 48 };

const char desktopFileName[] = "corvane-zarvo.desktop";
const char iconFileName[] = "corvane-zarvo.png";
const char programName[] = "corvane-zarvo";

DesktopSteps tellMissingFiles(Installer &installer, DesktopStep::Kind kind, const QString &file,
                              const QString &text)
{
    installer.prompt().tell(installer.parent(), UserPrompt::Critical,
                            QCoreApplication::translate("Installer", "Missing Installation Files"),
                            text);
    DesktopStep step{kind, file};
    step.problem = text;
    return {step};
}

// Runs one of the installation's tools within the tools' time limit, and
// tells the user when it failed; `exited` is the text for a failing status.
DesktopStep runTool(Installer &installer, DesktopStep::Kind kind, const QString &tool,
                    const QStringList &arguments, const QString &exited)
{
    const QString name = QFileInfo(tool).fileName();
    DesktopStep step{kind, arguments.last(), tool, arguments};
    step.installMode = QString::fromLocal8Bit(qgetenv("XDG_UTILS_INSTALL_MODE"));
    const ChildRun run = runChild(tool, arguments, ChildOutput::Forwarded, toolTimeLimitMs());
    step.status = run.status();
    step.succeeded = run.succeeded();
    if (run.end == ChildRun::TimedOut) {
        step.problem = QCoreApplication::translate(
                               "Installer", "%1 did not finish within %2 seconds and was stopped.")
                               .arg(name)
                               .arg(toolTimeLimitMs() / 1000);
    } else if (!step.succeeded) {
        step.problem = exited.arg(step.status);
    }
    if (!step.problem.isEmpty())
        installer.prompt().tell(installer.parent(), UserPrompt::Critical,
                                QCoreApplication::translate("Installer", "Installation Error"),
                                step.problem);
    return step;
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

DesktopSteps installLaunchIcons(Installer &installer, const QString &installDir,
                                const QString &applicationDir, bool registerWithDesktop)
{
    DesktopSteps steps;
    if (!isBuildTree(applicationDir))
        steps += rewriteDesktopEntry(installer, installDir, QLatin1String(desktopFileName),
                                     QLatin1String(programName));
    if (registerWithDesktop)
        steps += installIconsAndMenuEntry(installer, installDir, QLatin1String(desktopFileName),
                                          QLatin1String(iconFileName));
    return steps;
}

DesktopSteps installLaunchIcons(Installer &installer, const QString &installDir)
{
    return installLaunchIcons(installer, installDir, QCoreApplication::applicationDirPath());
}

DesktopSteps installIconsAndMenuEntry(Installer &installer, const QString &installDir,
                                      const QString &desktopFileName, const QString &iconFileName)
{
    if (!desktopSessionPresent())
        return {};

    const QString iconsDir = installDir + QLatin1String("/icons");
    const QString toolsDir = installDir + QLatin1String("/libexec");
    const QString iconTool = toolsDir + QLatin1String("/xdg-icon-resource");
    const QString menuTool = toolsDir + QLatin1String("/xdg-desktop-menu");
    const QString entry = iconsDir + QLatin1Char('/') + desktopFileName;

    if (!QFileInfo::exists(iconsDir)) {
        return tellMissingFiles(installer, DesktopStep::IconInstall, iconsDir,
                                QCoreApplication::translate("Installer",
                                                            "%1 icon files not found in \"%2\".")
                                        .arg(QLatin1String(productIdentity.productName),
                                             iconsDir));
    }
    if (!QFileInfo::exists(iconTool)) {
        return tellMissingFiles(installer, DesktopStep::IconInstall, iconTool,
                                QCoreApplication::translate(
                                        "Installer",
                                        "Required script xdg-icon-resource not found in \"%1\".")
                                        .arg(toolsDir));
    }
    if (!QFileInfo::exists(menuTool)) {
        return tellMissingFiles(installer, DesktopStep::MenuInstall, menuTool,
                                QCoreApplication::translate(
                                        "Installer",
                                        "Required script xdg-desktop-menu not found in \"%1\".")
                                        .arg(toolsDir));
    }

    // The icon tool decides between the per-user and the system-wide icon
    // theme by the same setting as the menu tool; without it, root's icons
    // would go into the system's theme beside a menu entry in root's home.
    setXdgInstallMode(installer.installMode());

    DesktopSteps steps;
    for (const int size : launchIconSizes) {
        const QString sizeText = QString::number(size);
        const QString iconFile = iconsDir + QLatin1Char('/') + sizeText + QLatin1Char('x')
                + sizeText + QLatin1Char('/') + iconFileName;
        steps += runTool(installer, DesktopStep::IconInstall, iconTool,
                         { QStringLiteral("install"), QStringLiteral("--size"), sizeText,
                           iconFile },
                         QCoreApplication::translate("Installer",
                                                     "xdg-icon-resource exited with status %1."));
        if (!steps.last().succeeded)
            return steps;
    }
    steps += runTool(installer, DesktopStep::MenuInstall, menuTool,
                     { QStringLiteral("install"), entry },
                     QCoreApplication::translate("Installer",
                                                 "xdg-desktop-menu exited with status %1."));
    return steps;
}
