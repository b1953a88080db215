#ifndef ZARVO_DESKTOP_FILEASSOCIATION_H
#define ZARVO_DESKTOP_FILEASSOCIATION_H

#include "installer/desktop/desktopstep.h"

#include <QString>

class Installer;

// Registers and then deletes the installation's "lumo-mime.xml", with
// xdg-mime within the tools' time limit. Nothing is reported; the step taken
// (none without a package) is returned.
DesktopSteps installFileAssociation(Installer &installer);

// The same for the installation in destination; nothing when it is empty.
DesktopSteps installFileAssociation(const QString &destination);

#endif
