#ifndef ZARVO_INSTALLER_INSTALLATIONSOURCE_H
#define ZARVO_INSTALLER_INSTALLATIONSOURCE_H

#include <QString>

#include <QStringList>

// Where the installer looks around itself, in order: the program's directory
// and its parent, then the working directory and its parent. Paths are taken
// as they are, never cleaned or resolved; one that cannot be determined is
// left out with its parent.
QStringList searchDirectories(const QString &applicationDir);

// The directory that holds the installation files (the archive, or an
// unpacked tree), or a null string when none of the candidates has them.
// Needs the application object.
QString findInstallationSource();

#endif
