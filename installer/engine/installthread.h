#ifndef ZARVO_ENGINE_INSTALLTHREAD_H
#define ZARVO_ENGINE_INSTALLTHREAD_H

#include "installer/site/sitefiles.h"
#include "util/dependencyscan.h"
#include "util/treepermissions.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>

class Tar;

// The worker: fills a staging directory beside or inside the destination
// from the installation source, writes the ".installed" marker and the
// installation record there, moves it all into place in one transaction and
// scans the installed programs for missing libraries. Anything that stops it
// before that (an error, a cancel) leaves the destination as it was.
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
    // Whether the free space and inodes are checked before anything is
    // written (the default); some network file systems misreport them.
    void setSpaceCheck(bool on) { spaceCheck = on; }
    // The options of the run, as the installation record keeps them.
    void setRecordOptions(const QStringList &options) { recordOptions = options; }
    // The program copied to the top of the installation as "uninstall"
    // (none when empty), recorded like every other file.
    void setRemover(const QString &program) { remover = program; }
    // How many files are written at once (see Tar::setWriters).
    void setWriters(int writers);
    // Whether the new files are on disk before they are moved into place (and
    // on their way there as soon as each is complete), and
    // whether the installation gets its record with the files' hashes (both
    // the default); off only to measure what they cost.
    void setDurable(bool on) { durable = on; }
    void setRecording(bool on) { recording = on; }
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
    bool placeRemover(const QString &staging);
    bool writeRecord(const QString &staging);
    void settleStagedParents(const QString &staging) const;
    QSet<QByteArray> previousEntries();

    Tar *tar;
    QString source;
    QString destination;
    QStringList m_missingLibraries;
    QVector<MissingVersion> m_missingVersions;
    bool fromArchive;
    TreePermissions permissions;
    QString moduleTree;
    SiteFiles m_siteFiles;
    bool spaceCheck = true;
    bool durable = true;
    bool recording = true;
    QStringList recordOptions;
    QString remover;
    // Errors reported during this run, Tar's included.
    int errors = 0;
};

#endif
