#ifndef ZARVO_DESKTOP_POSTINSTALLSCRIPT_H
#define ZARVO_DESKTOP_POSTINSTALLSCRIPT_H

#include "installer/desktop/desktopstep.h"

#include <QString>

class Installer;

// Runs and then deletes the installation's "post-install.sh", without a time
// limit. Nothing is reported; the step taken (none without a script that may
// be run) is returned.
DesktopSteps runPostInstallScript(Installer &installer);

// The same for the installation in destination; nothing when it is empty.
DesktopSteps runPostInstallScript(const QString &destination);

#endif
