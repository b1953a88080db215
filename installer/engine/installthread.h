#ifndef ZARVO_ENGINE_INSTALLTHREAD_H
#define ZARVO_ENGINE_INSTALLTHREAD_H

#include "installer/site/sitefiles.h"
#include "util/treepermissions.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

class Tar;

// The worker: fills the destination from the installation source, writes the
// ".installed" marker and scans the installed programs for missing libraries.
// Destroying a running thread cancels it and waits for it to stop.
class InstallThread : public QThread
{
    Q_OBJECT

public:
    InstallThread(const QString &source, const QString &destination);
    ~InstallThread() override;

    // Meaningful after installerFinished.
    QStringList missingLibraries() const;
    // True once destruction has begun to stop the worker.
    bool isCancelRequested() const;

    // Set before the thread starts: the modes and group of the installation,
    // and a site's module tree that gets the modulefile too (none if empty).
    void setPermissions(const TreePermissions &permissions);
    void setModuleTree(const QString &directory) { moduleTree = directory; }
    // The modulefile and set-up scripts written; meaningful after installerFinished.
    const SiteFiles &siteFiles() const { return m_siteFiles; }

signals:
    void cancelled();
    void error(const QString &error);
    void status(const QString &text);
    void progress(int progress);
    void installerFinished();

protected:
    void run() override;

private:
    bool copyCrayFiles();

    Tar *tar;
    QString source;
    QString destination;
    QStringList m_missingLibraries;
    bool fromArchive;
    TreePermissions permissions;
    QString moduleTree;
    SiteFiles m_siteFiles;
    // Set on the worker when Tar reports that it stopped on the cancel
    // request; the destructor delivers that report (see there).
    std::atomic<bool> cancelReported;
};

#endif
