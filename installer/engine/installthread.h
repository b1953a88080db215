#ifndef ZARVO_ENGINE_INSTALLTHREAD_H
#define ZARVO_ENGINE_INSTALLTHREAD_H

#include "installer/site/sitefiles.h"
#include "util/dependencyscan.h"
#include "util/treepermissions.h"

#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>

class Tar;

// The worker: fills the destination from the installation source, writes the
// ".installed" marker and scans the installed programs for missing libraries.
// Destroying a running thread cancels it and waits for it to stop.
//
// Every report, Tar's included, is emitted on the worker itself, so that a
// receiver in another thread gets them all, in order, through one queued
// hop; what was posted to it survives the destruction of this object.
class InstallThread : public QThread
{
    Q_OBJECT

public:
    InstallThread(const QString &source, const QString &destination);
    ~InstallThread() override;

    // Meaningful after installerFinished.
    QStringList missingLibraries() const;
    QVector<MissingVersion> missingVersions() const;
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
    // What the scan found, emitted right before installerFinished, so that
    // the findings outlive this object.
    void missingLibrariesFound(const QStringList &libraries,
                               const QVector<MissingVersion> &versions);
    void installerFinished();

protected:
    void run() override;

private:
    bool copyCrayFiles();

    Tar *tar;
    QString source;
    QString destination;
    QStringList m_missingLibraries;
    QVector<MissingVersion> m_missingVersions;
    bool fromArchive;
    TreePermissions permissions;
    QString moduleTree;
    SiteFiles m_siteFiles;
};

#endif
