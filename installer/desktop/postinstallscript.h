#ifndef ZARVO_DESKTOP_POSTINSTALLSCRIPT_H
#define ZARVO_DESKTOP_POSTINSTALLSCRIPT_H

class Installer;

// Runs and then deletes the installation's "post-install.sh".
void runPostInstallScript(Installer &installer);

#endif
