#ifndef ZARVO_ADMINISTRATION_DESKTOPUNDO_H
#define ZARVO_ADMINISTRATION_DESKTOPUNDO_H

#include "installer/administration/record.h"

#include <string>

namespace Administration {

// Undoes one desktop registration of the installation in `installation`
// with the freedesktop.org tool's own uninstall command, in the mode
// (XDG_UTILS_INSTALL_MODE) it was made in: the installation's own tool from
// its libexec directory as long as it is there, else the one on PATH. The
// tool gets /dev/null as its input and three minutes. False, with
// `problem`, when it could not be undone.
bool undoRegistration(const Registration &registration, const std::string &installation,
                      Text *problem);

} // namespace Administration

#endif
