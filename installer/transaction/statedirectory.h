#ifndef ZARVO_TRANSACTION_STATEDIRECTORY_H
#define ZARVO_TRANSACTION_STATEDIRECTORY_H

#include <QString>

// The installer's directory in the user's state directory:
// $XDG_STATE_HOME/corvane-zarvo, by default ~/.local/state/corvane-zarvo.
// Not created here.
QString stateDirectory();

#endif
