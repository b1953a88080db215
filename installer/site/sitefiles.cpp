#include "installer/site/sitefiles.h"

#include "installer/productidentity.h"
#include "installer/site/setuptexts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString below(const QString &directory, const QString &name)
{
    return directory + QLatin1Char('/') + name;
}

} // namespace

SiteFiles::SiteFiles(const QString &installDir, const TreePermissions &permissions)
    : m_installDir(installDir)
    , m_permissions(permissions)
{
}

QStringList SiteFiles::installedFiles()
{
    const QString name = QLatin1String(moduleName);
    return {QStringLiteral("modulefiles/%1/%2").arg(name, QLatin1String(productIdentity.version)),
            QStringLiteral("etc/profile.d/%1.sh").arg(name),
            QStringLiteral("etc/profile.d/%1.csh").arg(name)};
}

bool SiteFiles::write()
{
    m_files.clear();
    m_directories.clear();
    return writeInstallationFiles() && writeToModuleTree();
}

SetupInstallation SiteFiles::installation() const
{
    SetupInstallation installation;
    installation.root = QDir::cleanPath(
        QDir(m_installedRoot.isEmpty() ? m_installDir : m_installedRoot).absolutePath());
    installation.version = QLatin1String(productIdentity.version);
    for (const char *manualPages : {"share/man", "man"}) {
        if (QFileInfo(below(m_installDir, QLatin1String(manualPages))).isDir()) {
            installation.manualPages = QLatin1String(manualPages);
            break;
        }
    }
    return installation;
}

bool SiteFiles::writeInstallationFiles()
{
    m_error.clear();
    // Kept for the module tree's copy, which may be written once the files
    // have moved from where they were written.
    const SetupInstallation installation = this->installation();
    m_moduleText = moduleFileText(installation);
    const QString texts[] = {m_moduleText, shSetupText(installation), cshSetupText(installation)};

    const QStringList files = installedFiles();
    for (int i = 0; i < files.size(); ++i) {
        // Directory by directory, so that none is reached through a link.
        const QStringList parts = files.at(i).split(QLatin1Char('/'));
        QString path = m_installDir;
        for (int part = 0; part + 1 < parts.size(); ++part) {
            path = below(path, parts.at(part));
            if (!makeDirectory(path))
                return false;
        }
        if (!writeFile(below(path, parts.last()), texts[i]))
            return false;
    }
    return true;
}

QString SiteFiles::moduleTreeFile() const
{
    if (m_moduleTree.isEmpty())
        return QString();
    return below(below(m_moduleTree, QLatin1String(moduleName)),
                 QLatin1String(productIdentity.version));
}

bool SiteFiles::writeToModuleTree()
{
    if (m_moduleTree.isEmpty())
        return true;
    m_error = moduleTreeProblem(m_moduleTree);
    if (!m_error.isEmpty())
        return false;
    // The site may keep its own link here; it is followed as the site made it.
    const QString directory = below(m_moduleTree, QLatin1String(moduleName));
    if (!QFileInfo(directory).isDir() && !makeDirectory(directory))
        return false;
    return writeFile(moduleTreeFile(),
                     m_moduleText.isNull() ? moduleFileText(installation()) : m_moduleText);
}

bool SiteFiles::makeDirectory(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    struct stat st;
    if (::lstat(bytes.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        m_error = S_ISLNK(st.st_mode)
            ? tr("Could not create directory \"%1\": a symbolic link is in its place.").arg(path)
            : tr("Could not create directory \"%1\": %2.").arg(path, qt_error_string(EEXIST));
        return false;
    }
    // Only the owner can enter until it is settled.
    if (::mkdir(bytes.constData(), m_permissions.isFixed() ? 0700 : 0777) != 0) {
        m_error = tr("Could not create directory \"%1\": %2.").arg(path, qt_error_string(errno));
        return false;
    }
    m_directories.append(path);
    if (!m_permissions.settleDirectory(bytes)) {
        m_error = tr("Error changing permissions on \"%1\".").arg(path);
        return false;
    }
    return true;
}

bool SiteFiles::writeFile(const QString &path, const QString &text)
{
    // Written beside and renamed into place: a link in the way is replaced,
    // never followed, and a reader never sees half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toLocal8Bit()) < 0 || !file.commit()) {
        m_error = tr("Could not write \"%1\": %2.").arg(path, file.errorString());
        return false;
    }
    m_files.append(path);
    if (!m_permissions.settleFile(QFile::encodeName(path))) {
        m_error = tr("Error changing permissions on \"%1\".").arg(path);
        return false;
    }
    return true;
}

QString SiteFiles::moduleTreeProblem(const QString &directory)
{
    if (directory.isEmpty())
        return tr("No module directory is given.");
    const QFileInfo tree(directory);
    if (!tree.exists())
        return tr("The module directory \"%1\" does not exist.").arg(directory);
    if (!tree.isDir())
        return tr("The module directory \"%1\" is not a directory.").arg(directory);
    const QFileInfo own(below(directory, QLatin1String(moduleName)));
    if (own.exists() && !own.isDir())
        return tr("\"%1\" is not a directory.").arg(own.filePath());
    const QString target = own.exists() ? own.filePath() : directory;
    if (::access(QFile::encodeName(target).constData(), W_OK | X_OK) != 0)
        return tr("You may not write to the module directory \"%1\".").arg(target);
    return QString();
}
