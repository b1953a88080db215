#ifndef ZARVO_INSTALLER_MESSAGEHANDLER_H
#define ZARVO_INSTALLER_MESSAGEHANDLER_H

#include <QtGlobal>

class QMessageLogContext;
class QString;

// Replaces the toolkit's message output for the whole run: turns the display
// and platform plug-in failures into a short diagnosis and exits with 1.
void installerMessageHandler(QtMsgType type, const QMessageLogContext &context,
                             const QString &message);

#endif
