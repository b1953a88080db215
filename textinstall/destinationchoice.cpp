#include "textinstall/destinationchoice.h"

#include "installer/productidentity.h"
#include "textinstall/console.h"

#include <QDir>

#include <unistd.h>

QString DestinationChoice::defaultDestination()
{
    if (::getuid() == 0)
        return QLatin1String(productIdentity.systemInstallPath);
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(productIdentity.userInstallSubpath);
}

bool DestinationChoice::isValid(const QString &path)
{
    if (path.isEmpty())
        return false;
    for (const QChar c : path) {
        switch (c.unicode()) {
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r':
            return false;
        default:
            break;
        }
    }
    return true;
}

DestinationChoice::Result DestinationChoice::choose(Console &console, const QString &argument,
                                                    QString *destination)
{
    if (!argument.isNull()) {
        if (!isValid(argument)) {
            reportInvalid(console, argument);
            return Refused;
        }
        *destination = argument;
        return Chosen;
    }

    const QString fallback = defaultDestination();
    if (!console.inputIsTerminal()) {
        if (!isValid(fallback)) {
            reportInvalid(console, fallback);
            return Refused;
        }
        *destination = fallback;
        return Chosen;
    }

    const QString question =
        QCoreApplication::translate("InstallerWizard", "Install %1 to:")
            .arg(QLatin1String(productIdentity.productName))
        + QStringLiteral(" [%1] ").arg(Console::printable(fallback));
    for (;;) {
        QString answer;
        switch (console.ask(question, &answer)) {
        case Console::Interrupted:
            return Interrupted;
        case Console::EndOfInput:
            console.printError(tr("No destination directory was given."));
            return Refused;
        case Console::Line:
            break;
        }
        const QString path = answer.isEmpty() ? fallback : answer;
        if (isValid(path)) {
            *destination = path;
            return Chosen;
        }
        reportInvalid(console, path);
    }
}

void DestinationChoice::reportInvalid(Console &console, const QString &path)
{
    console.printError(
        tr("Cannot install to \"%1\".").arg(Console::printable(path)) + QLatin1Char(' ')
        + QCoreApplication::translate("InstallerWizard",
                                      "Note: this directory path must not contain whitespace."));
}
