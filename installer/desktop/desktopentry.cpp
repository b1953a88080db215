#include "installer/desktop/desktopentry.h"

#include "installer/engine/installer.h"
#include "installer/engine/userprompt.h"
#include "installer/productidentity.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

#include <functional>

namespace {

// Replaces every match of pattern in text by what replacement makes of it.
// The replacement is taken literally: a backslash and a digit in a path must
// not turn into a back-reference.
QString replaceEach(const QString &text, const QRegularExpression &pattern,
                    const std::function<QString(const QRegularExpressionMatch &)> &replacement)
{
    QString result;
    int copied = 0;
    QRegularExpressionMatchIterator matches = pattern.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += text.midRef(copied, match.capturedStart() - copied);
        result += replacement(match);
        copied = match.capturedEnd();
    }
    result += text.midRef(copied);
    return result;
}

// The escapes of every string value in a desktop entry.
QString escapedStringValue(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\': escaped += QLatin1String("\\\\"); break;
        case '\n': escaped += QLatin1String("\\n"); break;
        case '\t': escaped += QLatin1String("\\t"); break;
        case '\r': escaped += QLatin1String("\\r"); break;
        default: escaped += c; break;
        }
    }
    return escaped;
}

bool hasReservedExecCharacter(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    for (const QChar c : argument) {
        if (reserved.contains(c))
            return true;
    }
    return false;
}

} // namespace

QString desktopExecProgram(const QString &programPath)
{
    QString argument = programPath;
    argument.replace(QLatin1Char('%'), QLatin1String("%%"));
    if (hasReservedExecCharacter(argument)) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : qAsConst(argument)) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        quoted += QLatin1Char('"');
        argument = quoted;
    }
    return escapedStringValue(argument);
}

QString rewrittenDesktopEntry(const QString &text, const QString &programPath,
                              const QString &version)
{
    static const QRegularExpression execPattern(QStringLiteral("Exec=[^\n]*"));
    static const QRegularExpression namePattern(QStringLiteral("Name=([^\n]*)"));
    static const QLatin1String tryPrefix("Try");

    const QString execLine = QLatin1String("Exec=") + desktopExecProgram(programPath)
            + QLatin1String(" -gui");
    // TryExec names a file that must exist; with the arguments of Exec behind
    // it the desktop finds no such file and hides the entry.
    const QString tryExecLine = QLatin1String("Exec=") + escapedStringValue(programPath);
    QString result = replaceEach(text, execPattern, [&](const QRegularExpressionMatch &match) {
        const int start = match.capturedStart();
        const bool isTryExec = start >= tryPrefix.size()
                && text.midRef(start - tryPrefix.size(), tryPrefix.size()) == tryPrefix;
        return isTryExec ? tryExecLine : execLine;
    });

    // A name that shows the version already keeps it once, however often the
    // entry is rewritten.
    const QString versionSuffix = QLatin1Char(' ') + version;
    return replaceEach(result, namePattern, [&](const QRegularExpressionMatch &match) {
        const QString value = match.captured(1);
        if (value.endsWith(versionSuffix))
            return match.captured(0);
        return QLatin1String("Name=") + value + versionSuffix;
    });
}

void rewriteDesktopEntry(Installer &installer, const QString &installDir,
                         const QString &desktopFileName, const QString &programName)
{
    const QString programPath = installDir + QLatin1String("/bin/") + programName;
    const QString entryPath = installDir + QLatin1String("/icons/") + desktopFileName;

    QFile input(entryPath);
    if (!input.open(QIODevice::ReadOnly)) {
        installer.prompt().tell(
                installer.parent(), UserPrompt::Critical,
                QCoreApplication::translate("Installer", "Installation Error"),
                QCoreApplication::translate("Installer", "Could not open \"%1\" for reading.")
                        .arg(entryPath));
        return;
    }
    const QString text = QTextStream(&input).readAll();
    input.close();

    const QString rewritten = rewrittenDesktopEntry(
            text, programPath, QLatin1String(productIdentity.version));

    // Written aside and moved into place, so that a full disk leaves the old
    // entry rather than a truncated one.
    QSaveFile output(entryPath);
    output.setDirectWriteFallback(true);
    if (!output.open(QIODevice::WriteOnly))
        return;
    QTextStream stream(&output);
    stream << rewritten;
    stream.flush();
    if (stream.status() != QTextStream::Ok)
        output.cancelWriting();
    output.commit();
}
