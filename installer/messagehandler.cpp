#include "installer/messagehandler.h"

#include "util/dependencyscan.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

// Messages emitted from inside the handler do not come back to it: the
// toolkit writes them straight to standard error, each on its own line.
void installerMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (message.startsWith(QLatin1String("could not connect to display"))) {
        qDebug("Unable to connect to display.");
        std::exit(1);
    }

    if (message.startsWith(QLatin1String("Could not load the Qt platform plugin"))) {
        qDebug("Unable to load Qt QPA plugin.");
        const QString plugin =
            QCoreApplication::applicationDirPath() + QLatin1String("/platforms/libqxcb.so");
        const QSet<QString> missing = findMissingLibraries(plugin);
        if (!missing.isEmpty()) {
            const QStringList names(missing.cbegin(), missing.cend());
            qDebug("\nThese dependencies could not be found:\n%s\n",
                   names.join(QLatin1Char('\n')).toUtf8().constData());
        }
        qDebug("Message returned: '%s'", message.toUtf8().constData());
        std::exit(1);
    }

    // The toolkit aborts right after a fatal message; without this line a
    // damaged installation would die without saying why.
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
        std::fflush(stderr);
    }
}
