#ifndef ZARVO_DESKTOP_FILEASSOCIATION_H
#define ZARVO_DESKTOP_FILEASSOCIATION_H

class Installer;

// Registers and then deletes the installation's "lumo-mime.xml".
void installFileAssociation(Installer &installer);

#endif
