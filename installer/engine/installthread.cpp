#include "installer/engine/installthread.h"

#include "installer/productidentity.h"
#include "util/dependencyscan.h"
#include "util/tar.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Removes whatever stands at path without following it: a link goes itself,
// never what it leads to; a directory only when it is empty. True when
// nothing stands there afterwards; errno says why not.
bool removeEntry(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (S_ISDIR(st.st_mode))
        return ::rmdir(path.constData()) == 0;
    return ::unlink(path.constData()) == 0 || errno == ENOENT;
}

// The marker is always a new, empty regular file: whatever stood there (a
// link that the payload brought, a pipe) is removed, never opened.
bool createMarker(const QByteArray &path)
{
    if (!removeEntry(path))
        return false;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0666);
    return fd >= 0 && ::close(fd) == 0;
}

} // namespace

InstallThread::InstallThread(const QString &source, const QString &destination)
    : tar(new Tar(this))
    , source(source)
    , destination(destination)
    , fromArchive(false)
    , m_siteFiles(destination, TreePermissions())
{
    qRegisterMetaType<QVector<MissingVersion>>();
    // Relayed on the worker: a queued hop to this object would be lost when
    // the object is destroyed by a cancel before its events were delivered,
    // and would bring Tar's reports after those of run itself.
    connect(tar, &Tar::error, this, &InstallThread::error, Qt::DirectConnection);
    connect(tar, &Tar::status, this, &InstallThread::status, Qt::DirectConnection);
    connect(tar, &Tar::progress, this, &InstallThread::progress, Qt::DirectConnection);
    connect(tar, &Tar::cancelled, this, &InstallThread::cancelled, Qt::DirectConnection);
}

InstallThread::~InstallThread()
{
    tar->cancel();
    wait();
}

QStringList InstallThread::missingLibraries() const
{
    return m_missingLibraries;
}

QVector<MissingVersion> InstallThread::missingVersions() const
{
    return m_missingVersions;
}

bool InstallThread::isCancelRequested() const
{
    return tar->isCancelRequested();
}

void InstallThread::setPermissions(const TreePermissions &permissions)
{
    this->permissions = permissions;
    tar->setPermissions(permissions);
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
    if (permissions.makePath(destination) != 0) {
        const int number = errno;
        emit error(tr("Could not create destination directory \"%1\". %2")
                       .arg(destination, qt_error_string(number)));
        return;
    }

    // An earlier installation's marker goes before anything is written, so
    // that a run that fails or is cancelled leaves no tree that looks installed.
    const QString marker = destination + QLatin1String("/.installed");
    const QByteArray encodedMarker = QFile::encodeName(marker);
    if (!removeEntry(encodedMarker)) {
        const int number = errno;
        emit error(tr("Could not remove \"%1\". %2").arg(marker, qt_error_string(number)));
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

    // The modulefile and the shell set-up belong to what the marker vouches for.
    m_siteFiles = SiteFiles(destination, permissions);
    m_siteFiles.setModuleTree(moduleTree);
    if (!m_siteFiles.write()) {
        emit error(m_siteFiles.errorString());
        return;
    }

    if (!createMarker(encodedMarker) || !permissions.settleFile(encodedMarker)) {
        emit error(tr("Could not create \"%1\".").arg(marker));
        return;
    }

    const QString libexec = destination + QLatin1String("/libexec/");
    resolveLibraryDependencies(libexec + QLatin1String(productIdentity.mainProgramName),
                               &m_missingLibraries, &m_missingVersions);
    resolveLibraryDependencies(libexec + QLatin1String("gdb"), &m_missingLibraries,
                               &m_missingVersions);

    emit missingLibrariesFound(m_missingLibraries, m_missingVersions);
    emit installerFinished();
}

bool InstallThread::copyCrayFiles()
{
    return true;
}
