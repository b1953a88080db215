#ifndef ZARVO_DESKTOP_POSTINSTALLSCRIPT_H
#define ZARVO_DESKTOP_POSTINSTALLSCRIPT_H

#include <QString>

class Installer;

// Runs and then deletes the installation's "post-install.sh".
void runPostInstallScript(Installer &installer);

// The same for the installation in destination; nothing when it is empty.
void runPostInstallScript(const QString &destination);

#endif
