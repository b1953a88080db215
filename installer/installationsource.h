#ifndef ZARVO_INSTALLER_INSTALLATIONSOURCE_H
#define ZARVO_INSTALLER_INSTALLATIONSOURCE_H

#include <QString>

// The directory that holds the installation files (the archive, or an
// unpacked tree), or a null string when none of the candidates has them.
// Needs the application object.
QString findInstallationSource();

#endif
