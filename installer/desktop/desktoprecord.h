#ifndef ZARVO_DESKTOP_DESKTOPRECORD_H
#define ZARVO_DESKTOP_DESKTOPRECORD_H

#include "installer/desktop/desktopstep.h"

#include <QString>

// Brings the record of the installation in `destination` up to date after
// the post-install sequence: every registration that a desktop tool made
// (tool, mode, file), and the installation's files the sequence rewrote (the
// desktop entry), used up (the file-type package, the post-install script) or
// added (what the post-install script wrote).
// False, with `error`, when the record cannot be read or written; the
// installation itself stays as it is.
bool recordDesktopSteps(const QString &destination, const DesktopSteps &steps, QString *error);

#endif
