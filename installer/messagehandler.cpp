#include "installer/messagehandler.h"

#include <QString>

void installerMessageHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
}
