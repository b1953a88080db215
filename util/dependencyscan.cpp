#include "util/dependencyscan.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>

#include <memory>

namespace {

// ldd may take a while on a loaded machine, but when it cannot be started at
// all the wait ends at once.
const int lddStartTimeoutMs = 30000;

// Each pattern is compiled once; a function-local static is initialised
// exactly once even when the message handler and the install thread arrive
// together, and afterwards it is only read.
const QRegularExpression &missingLinePattern()
{
    static const QRegularExpression pattern = [] {
        QRegularExpression re(QStringLiteral("^\\s*([^\\s]+)\\s*=>\\s*([^\\s].*)$"));
        re.optimize();
        return re;
    }();
    return pattern;
}

const QRegularExpression &resolvedLinePattern()
{
    static const QRegularExpression pattern = [] {
        QRegularExpression re(QStringLiteral("^\\s*([^\\s].*[^\\s])\\s*=>\\s*(/[^ ]*)"));
        re.optimize();
        return re;
    }();
    return pattern;
}

// Runs ldd on file and returns the lines of its standard output up to the
// first empty one. Returns false when ldd could not be started.
bool lddLines(const QString &file, QStringList *lines)
{
    auto ldd = std::make_unique<QProcess>();
    ldd->start(QStringLiteral("ldd"), QStringList{file}, QIODevice::ReadWrite);
    if (!ldd->waitForStarted(lddStartTimeoutMs))
        return false;
    ldd->waitForFinished(-1);

    QByteArray output = ldd->readAllStandardOutput();
    const int nul = output.indexOf('\0');
    if (nul >= 0)
        output.truncate(nul);

    const QStringList all = QString::fromUtf8(output).trimmed().split(QLatin1Char('\n'));
    for (const QString &line : all) {
        if (line.isEmpty())
            break;
        lines->append(line);
    }
    return true;
}

} // namespace

QSet<QString> findMissingLibraries(const QString &file)
{
    QSet<QString> missing;
    QStringList lines;
    if (!lddLines(file, &lines))
        return missing;

    const QRegularExpression &pattern = missingLinePattern();
    for (const QString &line : qAsConst(lines)) {
        const QRegularExpressionMatch match = pattern.match(line);
        if (match.hasMatch() && match.capturedRef(2) == QLatin1String("not found"))
            missing.insert(match.captured(1));
    }
    return missing;
}

QStringList resolveLibraryDependencies(const QString &file, QStringList *notFound)
{
    QStringList resolved;
    QStringList lines;
    if (!lddLines(file, &lines))
        return resolved;

    const QRegularExpression &pattern = resolvedLinePattern();
    const QLatin1String arrow("=>");
    for (const QString &line : qAsConst(lines)) {
        const QRegularExpressionMatch match =
            pattern.match(line, 0, QRegularExpression::NormalMatch,
                          QRegularExpression::AnchoredMatchOption);
        if (match.hasMatch())
            resolved.append(QDir::cleanPath(match.captured(2)));

        const int arrowAt = line.indexOf(arrow);
        if (arrowAt < 0 || !notFound)
            continue;
        QStringRef target = line.midRef(arrowAt + arrow.size());
        int start = 0;
        while (start < target.size() && target.at(start).isSpace())
            ++start;
        if (target.mid(start) == QLatin1String("not found"))
            notFound->append(line.left(arrowAt).trimmed());
    }
    return resolved;
}
