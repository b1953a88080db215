#ifndef ZARVO_DESKTOP_FILEASSOCIATION_H
#define ZARVO_DESKTOP_FILEASSOCIATION_H

#include <QString>

class Installer;

// Registers and then deletes the installation's "lumo-mime.xml".
void installFileAssociation(Installer &installer);

// The same for the installation in destination; nothing when it is empty.
void installFileAssociation(const QString &destination);

#endif
