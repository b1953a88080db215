#include "installer/engine/installer.h"

#include "installer/engine/installthread.h"
#include "installer/engine/userprompt.h"
#include "installer/transaction/transaction.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

// Used when a front end supplies no prompt: never reuses a destination
// without being told to, and does not swallow messages.
class StandardErrorPrompt : public UserPrompt
{
public:
    bool askYesNo(QObject *, const QString &, const QString &) override { return false; }
    void tell(QObject *, Severity, const QString &title, const QString &text) override
    {
        std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
    }
};

UserPrompt *standardErrorPrompt()
{
    static StandardErrorPrompt prompt;
    return &prompt;
}

} // namespace

Installer::Installer(QObject *parent, UserPrompt *prompt)
    : QObject(parent)
    , m_installMode(1)
    , m_prompt(prompt ? prompt : standardErrorPrompt())
{
}

Installer::~Installer()
{
    // Stops the worker while this object can still receive its last reports;
    // whatever is still queued for it is dropped with it.
    thread.reset();
}

void Installer::install(const QString &source, const QString &destination)
{
    thread.reset();
    m_missingLibraries.clear();
    m_missingVersions.clear();

    // What a killed run left is settled first, so that the question below
    // is about the destination as it really is.
    QString recovery;
    switch (Transaction::recover(destination, &recovery)) {
    case Transaction::NothingFound:
        break;
    case Transaction::RolledBack:
    case Transaction::Completed:
        emit status(recovery);
        break;
    case Transaction::Busy:
    case Transaction::Failed:
        emit error(recovery);
        return;
    }

    if (QFileInfo::exists(destination)
        && !prompt().askYesNo(parent(), tr("Destination Exists"),
                              tr("Destination directory \"%1\" already exists. Do you wish to "
                                 "continue?")
                                  .arg(destination))) {
        emit cancelled();
        return;
    }

    m_destination = destination;
    thread.reset(new InstallThread(source, destination));
    m_permissions.setForAllUsers(m_installMode == 0);
    thread->setPermissions(m_permissions);
    thread->setModuleTree(m_moduleTree);
    thread->setSpaceCheck(m_spaceCheck);
    thread->setWriters(m_writers);
    thread->setRecordOptions(options());
    thread->setRemover(remover());
    connect(thread.get(), &InstallThread::error, this, &Installer::error, Qt::QueuedConnection);
    connect(thread.get(), &InstallThread::status, this, &Installer::status, Qt::QueuedConnection);
    connect(thread.get(), &InstallThread::progress, this, &Installer::progress,
            Qt::QueuedConnection);
    connect(thread.get(), &InstallThread::cancelled, this, &Installer::cancelled,
            Qt::QueuedConnection);
    connect(thread.get(), &InstallThread::missingLibrariesFound, this, &Installer::keepFindings,
            Qt::QueuedConnection);
    connect(thread.get(), &InstallThread::installerFinished, this, &Installer::finished,
            Qt::QueuedConnection);
    thread->start(QThread::InheritPriority);
}

QString Installer::remover() const
{
    if (!m_remover.isNull())
        return m_remover;
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1String("/uninstall");
    return QFileInfo(beside).isFile() ? beside : QString();
}

QStringList Installer::options() const
{
    QStringList options{QStringLiteral("install-mode=%1")
                            .arg(m_installMode == 0 ? QStringLiteral("system")
                                                    : QStringLiteral("user"))};
    if (m_permissions.hasGroup())
        options << QStringLiteral("group=%1").arg(m_permissions.group());
    if (!m_moduleTree.isEmpty())
        options << QStringLiteral("modulefiles=%1").arg(m_moduleTree);
    if (!m_spaceCheck)
        options << QStringLiteral("space-check=off");
    return options;
}

void Installer::keepFindings(const QStringList &libraries, const QVector<MissingVersion> &versions)
{
    m_missingLibraries = libraries;
    m_missingVersions = versions;
}

void Installer::cancel()
{
    thread.reset();
}
