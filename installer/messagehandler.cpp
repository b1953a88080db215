#include "installer/messagehandler.h"

#include "util/dependencyscan.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

// The diagnosis is the program's own output, not a log message: written
// straight to standard error, so that no logging rule (QT_LOGGING_RULES,
// qtlogging.ini) can hide it.
void printLine(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

} // namespace

void installerMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (message.startsWith(QLatin1String("could not connect to display"))) {
        printLine(QStringLiteral("Unable to connect to display."));
        std::exit(1);
    }

    if (message.startsWith(QLatin1String("Could not load the Qt platform plugin"))) {
        printLine(QStringLiteral("Unable to load Qt QPA plugin."));
        const QString plugin =
            QCoreApplication::applicationDirPath() + QLatin1String("/platforms/libqxcb.so");
        const QSet<QString> missing = findMissingLibraries(plugin);
        if (!missing.isEmpty()) {
            const QStringList names(missing.cbegin(), missing.cend());
            printLine(QStringLiteral("\nThese dependencies could not be found:\n%1\n")
                          .arg(names.join(QLatin1Char('\n'))));
        }
        printLine(QStringLiteral("Message returned: '%1'").arg(message));
        std::exit(1);
    }

    // The toolkit aborts right after a fatal message; without this line a
    // damaged installation would die without saying why.
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
        std::fflush(stderr);
    }
}
