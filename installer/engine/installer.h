#ifndef ZARVO_ENGINE_INSTALLER_H
#define ZARVO_ENGINE_INSTALLER_H

#include "util/dependencyscan.h"
#include "util/treepermissions.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class InstallThread;
class UserPrompt;

// The controller the front ends drive: starts an installation in an
// InstallThread, relays its reports on the user-interface thread, cancels it.
// Also carries the settings of the desktop integration.
class Installer : public QObject
{
    Q_OBJECT

public:
    // `prompt` asks the destination question and shows the desktop
    // integration's messages; it must outlive the Installer. With none, every
    // question is answered No and messages go to standard error.
    explicit Installer(QObject *parent = nullptr, UserPrompt *prompt = nullptr);
    ~Installer() override;

    void install(const QString &source, const QString &destination);
    // What the last installation's scan found; they arrive with finished,
    // also when the thread was cancelled or destroyed after its scan.
    QStringList missingLibraries() const { return m_missingLibraries; }
    QVector<MissingVersion> missingVersions() const { return m_missingVersions; }

    // 0 system-wide, anything else per-user (the default).
    int installMode() const { return m_installMode; }
    void setInstallMode(int mode) { m_installMode = mode; }

    // An installation for all users (install mode 0) gets fixed modes; one
    // given to a group belongs to it and is closed to others.
    void setGroup(gid_t group) { m_permissions.setGroup(group); }
    // The modes and group the installation gets (meaningful once it began).
    const TreePermissions &permissions() const { return m_permissions; }
    // A site's module tree that gets the modulefile too; none when empty.
    void setModuleTree(const QString &directory) { m_moduleTree = directory; }
    // Whether the free space is checked before anything is written (the
    // default).
    void setSpaceCheck(bool on) { m_spaceCheck = on; }
    bool spaceCheck() const { return m_spaceCheck; }
    // The program that removes an installation, copied into every one as
    // "uninstall"; by default the one beside this program (in the bundle and
    // in a build tree alike). Without one there, installations go without it.
    void setRemover(const QString &program) { m_remover = program; }
    QString remover() const;
    // How many files are written at once (see Tar::setWriters); by default
    // as the destination's file system suits.
    void setWriters(int writers) { m_writers = writers; }
    // The settings above as "name=value" lines, for the record and the log.
    QStringList options() const;

    QString destination() const { return m_destination; }
    // The installation in progress or last run, if any (owned by this object).
    InstallThread *installThread() const { return thread.get(); }
    UserPrompt &prompt() const { return *m_prompt; }

signals:
    void progress(int);
    void finished();
    void cancelled();
    void error(const QString &);
    void status(const QString &);

public slots:
    void cancel();

private:
    void keepFindings(const QStringList &libraries, const QVector<MissingVersion> &versions);

    std::unique_ptr<InstallThread> thread;
    int m_installMode;
    QString m_destination;
    QStringList m_missingLibraries;
    QVector<MissingVersion> m_missingVersions;
    UserPrompt *m_prompt;
    TreePermissions m_permissions;
    QString m_moduleTree;
    bool m_spaceCheck = true;
    QString m_remover;
    int m_writers = -1;
};

#endif
