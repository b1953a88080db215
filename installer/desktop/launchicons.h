#ifndef ZARVO_DESKTOP_LAUNCHICONS_H
#define ZARVO_DESKTOP_LAUNCHICONS_H

#include <QString>

class Installer;

// Registers the launch icons and the menu entry of the installation in
// installDir with the desktop, through the installation's own tools.
void installLaunchIcons(Installer &installer, const QString &installDir);

bool isBuildTree();

void installIconsAndMenuEntry(Installer &installer, const QString &installDir,
                              const QString &desktopFileName, const QString &iconFileName);

#endif
