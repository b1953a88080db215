#include "installer/desktop/desktoprecord.h"

#include "installer/transaction/installationrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <unistd.h>

namespace {

QString absolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The mode the xdg tools work in: theirs when it was set, else what they
// choose by themselves, system-wide for root.
QString registrationMode(const DesktopStep &step)
{
    if (step.installMode == QLatin1String("system") || step.installMode == QLatin1String("user"))
        return step.installMode;
    return ::geteuid() == 0 ? QStringLiteral("system") : QStringLiteral("user");
}

} // namespace

bool recordDesktopSteps(const QString &destination, const DesktopSteps &steps, QString *error)
{
    const QString top = absolute(destination);
    const QString path = top + QLatin1Char('/') + QLatin1String(InstallationRecord::fileName);
    InstallationRecord record;
    if (!InstallationRecord::load(path, &record, error))
        return false;
    QSet<QByteArray> touched;
    for (const DesktopStep &step : steps) {
        const QString file = absolute(step.file);
        if (file.startsWith(top + QLatin1Char('/')))
            touched.insert(QFile::encodeName(file.mid(top.size() + 1)));
        const bool registers = step.kind == DesktopStep::IconInstall
            || step.kind == DesktopStep::MenuInstall || step.kind == DesktopStep::FileAssociation;
        if (registers && step.succeeded)
            record.registrations << InstallationRecord::Registration{
                QFileInfo(step.program).fileName(), registrationMode(step), file};
    }
    // Described again as it is now: what the sequence rewrote, used up or
    // added (the post-install script's own files) is read anew; the files
    // the engine hashed keep their hashes.
    QHash<QByteArray, QByteArray> hashes;
    for (const InstallationRecord::Entry &entry : record.entries) {
        if (!touched.contains(entry.path))
            hashes.insert(entry.path, entry.hash);
    }
    return record.describeTree(top, error, hashes) && record.save(path, error);
}
