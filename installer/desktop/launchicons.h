#ifndef ZARVO_DESKTOP_LAUNCHICONS_H
#define ZARVO_DESKTOP_LAUNCHICONS_H

#include "installer/desktop/desktopstep.h"

#include <QString>

class Installer;

// Registers the launch icons and the menu entry of the installation in
// installDir with the desktop, through the installation's own tools. Each
// tool runs within the tools' time limit. Returns the steps taken.
DesktopSteps installLaunchIcons(Installer &installer, const QString &installDir);

// True inside a desktop session, where icons and a menu entry are registered.
bool desktopSessionPresent();

// True when the installer runs from a build tree: a Makefile beside the
// program, in its parent, in the working directory or in the latter's parent.
bool isBuildTree();

DesktopSteps installIconsAndMenuEntry(Installer &installer, const QString &installDir,
                                      const QString &desktopFileName,
                                      const QString &iconFileName);

// The same two, for a program that lies in applicationDir; without
// `registerWithDesktop`, only the desktop entry is rewritten.
bool isBuildTree(const QString &applicationDir);
DesktopSteps installLaunchIcons(Installer &installer, const QString &installDir,
                                const QString &applicationDir, bool registerWithDesktop = true);

#endif
