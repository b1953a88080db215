#ifndef ZARVO_ENGINE_INSTALLER_H
#define ZARVO_ENGINE_INSTALLER_H

#include <QObject>
#include <QString>
#include <QStringList>

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
    QStringList missingLibraries() const;

    // 0 system-wide, anything else per-user (the default).
    int installMode() const { return m_installMode; }
    void setInstallMode(int mode) { m_installMode = mode; }

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
    std::unique_ptr<InstallThread> thread;
    int m_installMode;
    QString m_destination;
    UserPrompt *m_prompt;
};

#endif
