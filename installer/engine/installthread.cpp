#include "installer/engine/installthread.h"

#include "installer/productidentity.h"
#include "util/dependencyscan.h"
#include "util/makepath.h"
#include "util/tar.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

InstallThread::InstallThread(const QString &source, const QString &destination)
    : tar(new Tar(this))
    , source(source)
    , destination(destination)
    , fromArchive(false)
    , cancelReported(false)
{
    connect(tar, &Tar::error, this, &InstallThread::error);
    connect(tar, &Tar::status, this, &InstallThread::status);
    connect(tar, &Tar::progress, this, &InstallThread::progress);
    // The cancel request comes only from the destructor, so a queued relay of
    // Tar's report would be posted to an object about to disappear, and lost
    // with it. It is noted on the worker instead and emitted by the destructor.
    connect(tar, &Tar::cancelled, this, [this] { cancelReported.store(true); },
            Qt::DirectConnection);
}

InstallThread::~InstallThread()
{
    tar->cancel();
    wait();
    if (cancelReported.exchange(false))
        emit cancelled();
}

QStringList InstallThread::missingLibraries() const
{
    return m_missingLibraries;
}

bool InstallThread::isCancelRequested() const
{
    return tar->isCancelRequested();
}

void InstallThread::run()
{
    emit status(tr("Examining source directory \"%1\"").arg(source));
    if (!QFileInfo::exists(source)) {
        emit error(tr("Source directory \"%1\" does not exist.").arg(source));
        return;
    }

    const QString archive = source + QLatin1Char('/') + QLatin1String(productIdentity.archiveName);
    if (QFileInfo::exists(archive)) {
        fromArchive = true;
    } else if (!QFileInfo::exists(source + QLatin1String("/bin/pesk"))) {
        emit error(tr("%1 installation files not found in \"%2\".")
                       .arg(QLatin1String(productIdentity.productName), source));
        return;
    }

    emit status(tr("Creating destination directory \"%1\"").arg(destination));
    if (makePath(destination, 0755) != 0) {
        const int number = errno;
        emit error(tr("Could not create destination directory \"%1\". %2")
                       .arg(destination, qt_error_string(number)));
        return;
    }

    emit status(tr("Counting files"));
    const int total = fromArchive ? tar->countArchiveEntries(archive)
                                  : tar->countFiles(source, destination);
    if (total < 0)
        return;

    emit status(tr("Copying files"));
    const bool filled = fromArchive ? tar->extract(archive, destination, total)
                                    : tar->copyDirectory(source, destination, total);
    if (!filled)
        return;

    if (QFileInfo::exists(QStringLiteral("/var/log/alps"))) {
        emit status(tr("Copying files for Cray XT system"));
        if (!copyCrayFiles())
            return;
    }

    const QString marker = destination + QLatin1String("/.installed");
    QFile markerFile(marker);
    if (!markerFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        emit error(tr("Could not create \"%1\".").arg(marker));
        return;
    }
    markerFile.close();

    const QString libexec = destination + QLatin1String("/libexec/");
    resolveLibraryDependencies(libexec + QLatin1String(productIdentity.mainProgramName),
                               &m_missingLibraries);
    resolveLibraryDependencies(libexec + QLatin1String("gdb"), &m_missingLibraries);

    emit installerFinished();
}

bool InstallThread::copyCrayFiles()
{
    return true;
}
