#include "installer/log/installationlog.h"

#include "installer/desktop/desktoprecord.h"
#include "installer/engine/installer.h"
#include "installer/engine/userprompt.h"
#include "installer/productidentity.h"
#include "installer/transaction/installationrecord.h"
#include "installer/transaction/statedirectory.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>


namespace {

class LoggingPrompt : public UserPrompt
{
public:
    LoggingPrompt(InstallationLog *log, UserPrompt *inner) : m_log(log), m_inner(inner) {}

    bool askYesNo(QObject *owner, const QString &title, const QString &text) override
    {
        m_log->write(QStringLiteral("question"), title + QStringLiteral(": ") + text);
        const bool yes = m_inner->askYesNo(owner, title, text);
        m_log->write(QStringLiteral("answer"), yes ? QStringLiteral("Yes") : QStringLiteral("No"));
        return yes;
    }

    void tell(QObject *owner, Severity severity, const QString &title, const QString &text) override
    {
        m_log->write(severity == Warning ? QStringLiteral("warning") : QStringLiteral("error"),
                     title + QStringLiteral(": ") + text);
        m_inner->tell(owner, severity, title, text);
    }

private:
    InstallationLog *m_log;
    UserPrompt *m_inner;
};

// For a shell: as it is when it holds nothing special, else in single quotes.
QString quoted(const QString &argument)
{
    static const QString plain = QStringLiteral(
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=:,+@%");
    bool special = argument.isEmpty();
    for (const QChar c : argument)
        special = special || !plain.contains(c);
    if (!special)
        return argument;
    QString text = argument;
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("'\\''"))
        + QLatin1Char('\'');
}

} // namespace

InstallationLog::InstallationLog(QObject *parent)
    : QObject(parent)
{
}

InstallationLog::~InstallationLog() = default;

bool InstallationLog::open()
{
    const QString directory = stateDirectory();
    if (!QDir().mkpath(directory))
        return false;
    QFile::setPermissions(directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString name = directory + QStringLiteral("/install-%1-%2").arg(stamp).arg(::getpid());
    for (int run = 1; run < 100; ++run) {
        m_file.setFileName(run == 1 ? name + QLatin1String(".log")
                                    : QStringLiteral("%1-%2.log").arg(name).arg(run));
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
    }
    return false;
}

void InstallationLog::writeHeader(const QStringList &options, const QString &command)
{
    write(QStringLiteral("version"),
          QStringLiteral("installer %1, %2 %3, Qt %4, %5, kernel %6")
              .arg(QLatin1String(productIdentity.version),
                   QLatin1String(productIdentity.productName),
                   QLatin1String(productIdentity.version), QLatin1String(qVersion()),
                   QSysInfo::prettyProductName(), QSysInfo::kernelVersion()));
    const passwd *account = ::getpwuid(::geteuid());
    write(QStringLiteral("user"),
          QStringLiteral("%1 (%2) on %3, in %4")
              .arg(account ? QString::fromLocal8Bit(account->pw_name) : QString())
              .arg(::geteuid())
              .arg(QSysInfo::machineHostName(), QDir::currentPath()));
    for (const QString &option : options)
        write(QStringLiteral("option"), option);
    write(QStringLiteral("command"), command);
}

QString InstallationLog::whereSentence() const
{
    if (path().isEmpty())
        return QString();
    return tr("The log of this installation is in \"%1\".").arg(path());
}

QString InstallationLog::equivalentCommand(const QString &destination, bool reuseExisting,
                                           bool allUsers, bool skipSpaceCheck,
                                           const QStringList &options)
{
    QStringList words{QStringLiteral("textinstall"), QStringLiteral("--accept-licence")};
    if (reuseExisting)
        words << QStringLiteral("--yes");
    if (allUsers)
        words << QStringLiteral("--all-users");
    if (skipSpaceCheck)
        words << QStringLiteral("--no-space-check");
    for (const QString &option : options)
        words << quoted(option);
    words << QStringLiteral("--") << quoted(destination);
    return words.join(QLatin1Char(' '));
}

void InstallationLog::observe(Installer *installer)
{
    connect(installer, &Installer::status, this, &InstallationLog::status);
    connect(installer, &Installer::error, this, &InstallationLog::error);
    connect(installer, &Installer::cancelled, this, &InstallationLog::cancelled);
    connect(installer, &Installer::finished, this, &InstallationLog::finished);
}

UserPrompt *InstallationLog::loggingPrompt(UserPrompt *prompt)
{
    m_prompt.reset(new LoggingPrompt(this, prompt));
    return m_prompt.get();
}

void InstallationLog::write(const QString &kind, const QString &text)
{
    if (!m_file.isOpen())
        return;
    QString line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + QLatin1Char(' ')
        + kind;
    if (!text.isEmpty())
        line += QLatin1Char(' ') + QString(text).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    m_file.write(line.toUtf8() + '\n');
    m_file.flush();
}

bool InstallationLog::copyInto(const QString &directory)
{
    QFile log(m_file.fileName());
    QSaveFile copy(directory + QLatin1Char('/') + QLatin1String(InstallationRecord::logFileName));
    if (!log.open(QIODevice::ReadOnly) || !copy.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = log.readAll();
    return copy.write(text) == text.size() && copy.commit();
}

void InstallationLog::keepWithInstallation(const QString &destination, const DesktopSteps &steps,
                                           const TreePermissions &permissions)
{
    QString problem;
    const QString record = destination + QLatin1Char('/')
        + QLatin1String(InstallationRecord::fileName);
    if (!recordDesktopSteps(destination, steps, &problem)
        || !permissions.settleFile(QFile::encodeName(record)))
        write(QStringLiteral("warning"),
              problem.isEmpty() ? tr("Could not update \"%1\".").arg(record) : problem);
    const QString copy = destination + QLatin1Char('/')
        + QLatin1String(InstallationRecord::logFileName);
    if (!copyInto(destination) || !permissions.settleFile(QFile::encodeName(copy)))
        write(QStringLiteral("warning"), tr("Could not copy the log to \"%1\".").arg(copy));
}
