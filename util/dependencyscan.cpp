#include "util/dependencyscan.h"

#include "util/childprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

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

// What the loader says of a library that lacks a version a program needs:
// "prog: /lib/libc.so.6: version `GLIBC_2.99' not found (required by prog)".
// The library is the last name before the message; newer C libraries quote
// the version with two apostrophes.
bool missingVersionLine(const QString &line, MissingVersion *missing)
{
    static const QRegularExpression pattern = [] {
        QRegularExpression re(QStringLiteral(
            "(?:^|: )([^:]+): version [`']([^']+)' not found \\(required by (.+)\\)$"));
        re.optimize();
        return re;
    }();
    const QRegularExpressionMatch match = pattern.match(line.trimmed());
    if (!match.hasMatch())
        return false;
    *missing = {QFileInfo(match.captured(1)).fileName(), match.captured(2), match.captured(3)};
    return true;
}

// Runs ldd on file and returns the lines of its standard output up to the
// first empty one. Returns false when ldd could not be started, or hung and
// was stopped at the limit.
bool lddLines(const QString &file, QStringList *lines)
{
    const ChildRun ldd = runChild(QStringLiteral("ldd"), QStringList{file}, ChildOutput::Captured,
                                  toolTimeLimitMs());
    if (ldd.end == ChildRun::NotStarted || ldd.end == ChildRun::TimedOut)
        return false;

    QByteArray output = ldd.output;
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
        MissingVersion version;
        if (match.hasMatch() && match.capturedRef(2) == QLatin1String("not found"))
            missing.insert(match.captured(1));
        else if (missingVersionLine(line, &version))
            missing.insert(version.library);
    }
    return missing;
}

QStringList resolveLibraryDependencies(const QString &file, QStringList *notFound,
                                       QVector<MissingVersion> *missingVersions)
{
    QStringList resolved;
    QStringList lines;
    if (!lddLines(file, &lines))
        return resolved;

    const QRegularExpression &pattern = resolvedLinePattern();
    const QLatin1String arrow("=>");
    QSet<QString> lackingVersions;
    for (const QString &line : qAsConst(lines)) {
        MissingVersion version;
        if (missingVersionLine(line, &version)) {
            if (notFound && !lackingVersions.contains(version.library))
                notFound->append(version.library);
            lackingVersions.insert(version.library);
            if (missingVersions)
                missingVersions->append(version);
            continue;
        }
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
