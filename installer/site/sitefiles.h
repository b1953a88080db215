#ifndef ZARVO_SITE_SITEFILES_H
#define ZARVO_SITE_SITEFILES_H

#include "installer/site/setuptexts.h"
#include "util/treepermissions.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// Makes an installation usable on a cluster without a desktop: writes the
// modulefile and the shell set-up scripts into it and, when asked, places the
// modulefile in a site's module tree too (below it, "corvane-zarvo/"). Every
// file and directory written gets the installation's permissions.
class SiteFiles
{
    Q_DECLARE_TR_FUNCTIONS(SiteFiles)

public:
    SiteFiles(const QString &installDir, const TreePermissions &permissions);

    // Where the files lie below the installation.
    static QStringList installedFiles();

    void setModuleTree(const QString &directory) { m_moduleTree = directory; }
    QString moduleTree() const { return m_moduleTree; }
    // Where the installation will be used from, when it is written somewhere
    // else first: the texts name this directory. By default the one written.
    void setInstalledRoot(const QString &root) { m_installedRoot = root; }

    // Writes every file; false at the first failure, with errorString().
    bool write();
    // The same in two parts: the files inside the installation, and the
    // modulefile in the site's module tree (nothing without one), the same
    // text even when the installation has moved since.
    bool writeInstallationFiles();
    bool writeToModuleTree();
    // Where writeToModuleTree puts the modulefile; empty without a module tree.
    QString moduleTreeFile() const;
    QString errorString() const { return m_error; }

    // What write() wrote, in order, so that it can be removed again: the
    // files, and the directories that did not exist before.
    QStringList writtenFiles() const { return m_files; }
    QStringList createdDirectories() const { return m_directories; }

    // Why `directory` cannot take the modulefile; empty when it can.
    static QString moduleTreeProblem(const QString &directory);

private:
    SetupInstallation installation() const;
    bool makeDirectory(const QString &path);
    bool writeFile(const QString &path, const QString &text);

    QString m_installDir;
    QString m_installedRoot;
    TreePermissions m_permissions;
    QString m_moduleTree;
    QString m_moduleText;
    QString m_error;
    QStringList m_files;
    QStringList m_directories;
};

#endif
