#ifndef ZARVO_DESKTOP_POSTINSTALLSEQUENCE_H
#define ZARVO_DESKTOP_POSTINSTALLSEQUENCE_H

#include "installer/desktop/desktopstep.h"
#include "util/dependencyscan.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class Installer;

// The warning about libraries the installed programs need and the machine
// lacks (singular or plural form), followed by a sentence naming each
// version that a library lacks; empty when the list is empty.
QString missingLibrariesWarning(const QStringList &libraries,
                                const QVector<MissingVersion> &versions = {});

// What the after-work may do. The wizard does all of it; textinstall can
// leave out the desktop (--no-desktop) and the script (--no-post-install).
struct PostInstallChoices
{
    // Icons, menu entry and file association; the installation's desktop
    // entry is rewritten for it either way.
    bool desktop = true;
    bool postInstallScript = true;
};

// The after-work of a finished installation in installDir, shared by both
// front ends: the missing-library warning (through the Installer's prompt,
// without an owner window), launch icons and menu entry, file association,
// post-install script. showStatus is called with each step's status text
// before the step runs (none for the icons outside a desktop session, where
// none are registered, nor for a step left out), and last with "Finished".
// Returns the desktop steps taken, in order.
DesktopSteps runPostInstallSequence(Installer &installer, const QString &installDir,
                                    const std::function<void(const QString &)> &showStatus,
                                    const PostInstallChoices &choices = PostInstallChoices());

// The same with the Installer's findings given: the missing libraries and
// versions, and the destination that holds the file association and the
// post-install script.
DesktopSteps runPostInstallSequence(Installer &installer, const QString &installDir,
                                    const QStringList &missingLibraries,
                                    const QVector<MissingVersion> &missingVersions,
                                    const QString &destination,
                                    const std::function<void(const QString &)> &showStatus,
                                    const PostInstallChoices &choices = PostInstallChoices());

#endif
