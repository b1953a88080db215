#include "installer/desktop/desktopentry.h"

#include "installer/engine/installer.h"
#include "installer/engine/userprompt.h"
#include "installer/productidentity.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

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
    // Keys only at the start of a line: a value (a path holding "Name=", a
    // comment) is never taken for one.
    static const QRegularExpression execPattern(QStringLiteral("^(Try)?Exec=[^\n]*"),
                                                QRegularExpression::MultilineOption);
    static const QRegularExpression namePattern(QStringLiteral("^((?:Generic)?Name=)([^\n]*)"),
                                                QRegularExpression::MultilineOption);

    const QString execLine = QLatin1String("Exec=") + desktopExecProgram(programPath)
            + QLatin1String(" -gui");
    // TryExec names a file that must exist; with the arguments of Exec behind
    // it the desktop finds no such file and hides the entry.
    const QString tryExecLine = QLatin1String("TryExec=") + escapedStringValue(programPath);
    QString result = replaceEach(text, execPattern, [&](const QRegularExpressionMatch &match) {
        return match.capturedLength(1) ? tryExecLine : execLine;
    });

    // A name that shows the version already keeps it once, however often the
    // entry is rewritten.
    const QString versionSuffix = QLatin1Char(' ') + version;
    return replaceEach(result, namePattern, [&](const QRegularExpressionMatch &match) {
        const QString value = match.captured(2);
        if (value.endsWith(versionSuffix))
            return match.captured(0);
        return match.captured(1) + value + versionSuffix;
    });
}

DesktopSteps rewriteDesktopEntry(Installer &installer, const QString &installDir,
                                 const QString &desktopFileName, const QString &programName)
{
    const QString programPath = installDir + QLatin1String("/bin/") + programName;
    const QString entryPath = installDir + QLatin1String("/icons/") + desktopFileName;
    DesktopStep step{DesktopStep::EntryRewrite, entryPath};
    const auto tell = [&](const QString &text) {
        step.problem = text;
        installer.prompt().tell(installer.parent(), UserPrompt::Critical,
                                QCoreApplication::translate("Installer", "Installation Error"),
                                text);
        return DesktopSteps{step};
    };
    const auto cannotRead = [&] {
        return tell(QCoreApplication::translate("Installer", "Could not open \"%1\" for reading.")
                            .arg(entryPath));
    };

    // The file is replaced where it really lies, which must be inside the
    // installation: the payload may have made the entry, or the directory
    // above it, a link to a file of someone else's.
    const QString target = QFileInfo(entryPath).canonicalFilePath();
    const QString top = QFileInfo(installDir).canonicalFilePath();
    if (target.isEmpty())
        return cannotRead();
    if (!target.startsWith(top.endsWith(QLatin1Char('/')) ? top : top + QLatin1Char('/'))) {
        return tell(QCoreApplication::translate(
                            "Installer",
                            "\"%1\" leads to \"%2\", outside the installation directory "
                            "\"%3\"; it was left unchanged.")
                            .arg(entryPath, target, installDir));
    }
    struct stat original;
    const QByteArray encodedTarget = QFile::encodeName(target);
    // Reading a pipe or a device would wait or never end.
    if (::stat(encodedTarget.constData(), &original) != 0 || !S_ISREG(original.st_mode))
        return cannotRead();
    QFile input(target);
    if (!input.open(QIODevice::ReadOnly))
        return cannotRead();
    const QString text = QTextStream(&input).readAll();
    input.close();

    const QString rewritten = rewrittenDesktopEntry(
            text, programPath, QLatin1String(productIdentity.version));

    // Written aside and moved into place: a full disk leaves the old entry
    // rather than a truncated one, and the file is never written through.
    QSaveFile output(target);
    if (!output.open(QIODevice::WriteOnly))
        return {step};
    // Run as root over a user's installation, the new file stays the user's.
    if (::fchown(output.handle(), original.st_uid, original.st_gid) != 0
        && ::geteuid() == 0) {
        output.cancelWriting();
    }
    QTextStream stream(&output);
    stream << rewritten;
    stream.flush();
    if (stream.status() != QTextStream::Ok)
        output.cancelWriting();
    step.succeeded = output.commit();
    return {step};
}
