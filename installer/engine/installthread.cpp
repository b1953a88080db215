#include "installer/engine/installthread.h"

#include "installer/productidentity.h"
#include "installer/transaction/installationrecord.h"
#include "installer/transaction/spacecheck.h"
#include "installer/transaction/transaction.h"
#include "util/dependencyscan.h"
#include "util/processumask.h"
#include "util/tar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The marker is always a new, empty regular file: whatever the payload put
// at its name (a link, a pipe) is removed, never opened; a directory only
// when it is empty.
bool createMarker(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) == 0
        && (S_ISDIR(st.st_mode) ? ::rmdir(path.constData()) : ::unlink(path.constData())) != 0)
        return false;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0666);
    return fd >= 0 && ::close(fd) == 0;
}

const char removerName[] = "uninstall";

QString below(const QString &directory, const char *name)
{
    return directory + QLatin1Char('/') + QLatin1String(name);
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
    connect(this, &InstallThread::error, this, [this] { ++errors; }, Qt::DirectConnection);
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

void InstallThread::setWriters(int writers)
{
    tar->setWriters(writers);
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

    // Everything is written into the staging directory; leaving this
    // function before the commit, for whatever reason, rolls it back.
    emit status(tr("Creating destination directory \"%1\"").arg(destination));
    Transaction transaction(destination);
    transaction.setDurable(durable);
    if (!transaction.begin()) {
        emit error(transaction.errorString());
        return;
    }
    const QString staging = transaction.stagingDirectory();
    settleStagedParents(staging);
    tar->setStaging(staging, destination);
    tar->setHashing(recording);
    tar->setWriteBack(durable);

    emit status(tr("Counting files"));
    SpaceCheck space(destination);
    if (spaceCheck)
        tar->setEntryCounter([&space](mode_t type, qint64 size) {
            if (S_ISDIR(type))
                space.addDirectory();
            else if (S_ISLNK(type))
                space.addLink(size);
            else
                space.addFile(size);
        });
    const int total = fromArchive ? tar->countArchiveEntries(archive)
                                  : tar->countFiles(source, destination);
    tar->setEntryCounter(nullptr);
    if (total < 0)
        return;
    // The marker, the record and the module and set-up files take little.
    const QString shortage = spaceCheck ? space.shortage() : QString();
    if (!shortage.isEmpty()) {
        emit error(shortage);
        return;
    }

    emit status(tr("Copying files"));
    const bool filled = fromArchive ? tar->extract(archive, staging, total)
                                    : tar->copyDirectory(source, staging, total);
    // A copy that reported failing files went on to report them all; it
    // installs nothing.
    if (!filled || errors > 0)
        return;

    if (QFileInfo::exists(QStringLiteral("/var/log/alps"))) {
        emit status(tr("Copying files for Cray XT system"));
        if (!copyCrayFiles())
            return;
    }

    // The modulefile and the shell set-up belong to what the marker vouches
    // for; they name the destination, where they will be used.
    m_siteFiles = SiteFiles(staging, permissions);
    m_siteFiles.setInstalledRoot(destination);
    m_siteFiles.setModuleTree(moduleTree);
    if (!m_siteFiles.writeInstallationFiles()) {
        emit error(m_siteFiles.errorString().replace(staging, destination));
        return;
    }
    if (!moduleTree.isEmpty()) {
        const QString problem = SiteFiles::moduleTreeProblem(moduleTree);
        if (!problem.isEmpty()) {
            emit error(problem);
            return;
        }
    }

    if (!remover.isEmpty() && !placeRemover(staging))
        return;

    const QString marker = below(destination, Transaction::markerName);
    const QByteArray stagedMarker = QFile::encodeName(below(staging, Transaction::markerName));
    if (!createMarker(stagedMarker) || !permissions.settleFile(stagedMarker)) {
        emit error(tr("Could not create \"%1\".").arg(marker));
        return;
    }
    if (recording && !writeRecord(staging))
        return;

    transaction.setPreviousEntries(previousEntries());
    if (!transaction.commit()) {
        emit error(transaction.errorString());
        return;
    }
    // The destination itself is part of the installation, also when it
    // existed before.
    if (permissions.isFixed())
        permissions.settleDirectory(QFile::encodeName(destination));
    // Outside the destination: written only once the installation is there,
    // and named in its record already.
    if (!m_siteFiles.writeToModuleTree())
        emit error(m_siteFiles.errorString());

    const QString libexec = destination + QLatin1String("/libexec/");
    resolveLibraryDependencies(libexec + QLatin1String(productIdentity.mainProgramName),
                               &m_missingLibraries, &m_missingVersions);
    resolveLibraryDependencies(libexec + QLatin1String("gdb"), &m_missingLibraries,
                               &m_missingVersions);

    emit missingLibrariesFound(m_missingLibraries, m_missingVersions);
    if (errors == 0)
        emit installerFinished();
}

void InstallThread::settleStagedParents(const QString &staging) const
{
    if (!permissions.isFixed())
        return;
    // The missing directories on the way to a fresh destination are staged
    // with it; they get the installation's modes as makePath would give them.
    QString staged = QDir::cleanPath(staging);
    QString final = QDir::cleanPath(QFileInfo(destination).absoluteFilePath());
    while (!QFileInfo::exists(final) && final.size() > 1) {
        permissions.settleDirectory(QFile::encodeName(staged));
        staged = QFileInfo(staged).path();
        final = QFileInfo(final).path();
    }
}

bool InstallThread::placeRemover(const QString &staging)
{
    // What the payload itself puts there is its own business.
    const QString placed = below(staging, removerName);
    if (QFileInfo(placed).isSymLink() || QFileInfo::exists(placed))
        return true;
    const QByteArray path = QFile::encodeName(placed);
    if (QFile::copy(remover, placed)
        && ::chmod(path.constData(), permissions.fileMode(0755, processUmask())) == 0
        && permissions.settleFile(path))
        return true;
    emit error(tr("Could not create \"%1\".").arg(below(destination, removerName)));
    return false;
}

bool InstallThread::writeRecord(const QString &staging)
{
    // Where the installation lies: a tree moved or copied elsewhere is not
    // this installation, and is not removed from its record.
    InstallationRecord record = InstallationRecord::forThisRun(
        fromArchive ? QStringLiteral("archive") : QStringLiteral("tree"),
        fromArchive ? below(QDir(source).absolutePath(), productIdentity.archiveName)
                    : QDir(source).absolutePath(),
        QStringList(recordOptions)
            << QStringLiteral("destination=%1")
                   .arg(QDir::cleanPath(QFileInfo(destination).absoluteFilePath())));
    QString problem;
    bool ok = record.describeTree(staging, &problem, tar->contentHashes());
    if (ok && !moduleTree.isEmpty())
        record.registrations << InstallationRecord::Registration{
            QStringLiteral("modulefile"),
            permissions.forAllUsers() ? QStringLiteral("system") : QStringLiteral("user"),
            QDir::cleanPath(QFileInfo(m_siteFiles.moduleTreeFile()).absoluteFilePath())};
    const QString path = below(staging, InstallationRecord::fileName);
    ok = ok && record.save(path, &problem);
    if (ok && permissions.settleFile(QFile::encodeName(path)))
        return true;
    emit error(problem.isEmpty() ? tr("Could not create \"%1\".")
                                       .arg(below(destination, InstallationRecord::fileName))
                                 : problem.replace(staging, destination));
    return false;
}

QSet<QByteArray> InstallThread::previousEntries()
{
    // Without a record (an installation by an older installer), nothing of
    // the earlier installation is known, so everything of it stays.
    const QString path = below(destination, InstallationRecord::fileName);
    if (!QFileInfo::exists(path))
        return {};
    InstallationRecord previous;
    QString problem;
    if (!InstallationRecord::load(path, &previous, &problem)) {
        emit status(tr("The record of the earlier installation cannot be read, so its files "
                       "are kept: %1")
                        .arg(problem));
        return {};
    }
    return previous.paths();
}

bool InstallThread::copyCrayFiles()
{
    return true;
}
