#include "textinstall/textinstallation.h"

#include "installer/desktop/postinstallsequence.h"
#include "installer/engine/installer.h"
#include "installer/engine/installthread.h"
#include "installer/log/installationlog.h"
#include "installer/productidentity.h"
#include "textinstall/console.h"
#include "textinstall/progressprinter.h"
#include "textinstall/signalwatcher.h"
#include "textinstall/terminalprompt.h"

#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace {

// After Installer::cancel the worker has stopped; its report is already on
// its way and needs only a few turns of the event loop. This is the bound
// for an engine that sends none.
const int cancelReportMs = 2000;

} // namespace

TextInstallation::TextInstallation(Console &console, TerminalPrompt &prompt,
                                   SignalWatcher *watcher, QObject *parent)
    : QObject(parent)
    , m_console(console)
    , m_prompt(prompt)
    , m_watcher(watcher)
{
}

TextInstallation::~TextInstallation() = default;

int TextInstallation::run(const QString &source, const QString &destination)
{
    m_destination = destination;
    m_hadError = false;
    m_cancelRequested = false;
    m_concluded = false;
    m_status = InstallFailed;

    // Every run leaves a log, whatever becomes of it; without one (no state
    // directory) it goes on all the same.
    InstallationLog log;
    log.open();
    Installer installer(nullptr, log.loggingPrompt(&m_prompt));
    installer.setInstallMode(m_installMode);
    if (m_hasGroup)
        installer.setGroup(m_group);
    installer.setModuleTree(m_moduleTree);
    installer.setSpaceCheck(m_spaceCheck);
    log.writeHeader(installer.options(),
                    InstallationLog::equivalentCommand(destination, QFileInfo::exists(destination),
                                                       m_installMode == 0, !m_spaceCheck,
                                                       commandOptions()));
    log.observe(&installer);
    ProgressPrinter printer(m_console);
    m_installer = &installer;
    m_printer = &printer;
    m_log = &log;

    connect(&installer, &Installer::progress, &printer, &ProgressPrinter::setProgress);
    connect(&installer, &Installer::status, &printer, &ProgressPrinter::setStatus);
    connect(&installer, &Installer::error, this, &TextInstallation::installerError);
    connect(&installer, &Installer::cancelled, this, &TextInstallation::installerCancelled);
    connect(&installer, &Installer::finished, this, &TextInstallation::installerFinished);
    QMetaObject::Connection signalConnection;
    if (m_watcher)
        signalConnection = connect(m_watcher, &SignalWatcher::interrupted, this,
                                   &TextInstallation::interrupt);

    installer.install(source, destination);
    if (QThread *worker = installer.installThread()) {
        connect(worker, &QThread::finished, this, &TextInstallation::workerStopped,
                Qt::QueuedConnection);
        // It may have been quicker than the connection.
        if (worker->isFinished())
            QMetaObject::invokeMethod(this, &TextInstallation::workerStopped, Qt::QueuedConnection);
    } else if (!m_concluded) {
        // Stopped before it began: what a killed run left could not be settled.
        reportFailure();
    }
    if (!m_concluded)
        m_loop.exec();

    disconnect(signalConnection);
    printer.finish();
    log.write(QStringLiteral("note"), QStringLiteral("exit status %1").arg(m_status));
    m_installer = nullptr;
    m_printer = nullptr;
    m_log = nullptr;
    return m_status;
}

void TextInstallation::installerError(const QString &message)
{
    if (m_concluded)
        return;
    m_hadError = true;
    m_console.printError(Console::printable(message, true));
}

void TextInstallation::installerCancelled()
{
    if (m_concluded)
        return;
    m_printer->finish();
    m_console.printError(
        QCoreApplication::translate("InstallerWizard", "The installation was cancelled."));
    if (!m_log->whereSentence().isEmpty())
        m_console.printError(Console::printable(m_log->whereSentence()));
    // Declining to reuse an existing destination is a refusal, not an interruption.
    const bool refused = m_prompt.declined() && !m_prompt.interrupted() && !m_cancelRequested;
    conclude(refused ? InstallFailed : InstallInterrupted);
}

void TextInstallation::installerFinished()
{
    if (m_concluded)
        return;
    m_printer->finish();
    // As in the wizard: after an error the run ends there, without the after-work.
    if (m_hadError) {
        reportFailure();
        return;
    }
    const DesktopSteps steps = runPostInstallSequence(
        *m_installer, m_destination,
        [this](const QString &step) {
            m_log->status(step);
            m_printer->showStep(step);
        },
        m_choices);
    m_printer->finish();
    const QString script = m_destination + QLatin1String("/post-install.sh");
    if (!m_choices.postInstallScript && QFileInfo::exists(script)) {
        const QString notRun = tr("The post-install script \"%1\" was not run (--no-post-install).")
                                   .arg(Console::printable(script));
        m_log->write(QStringLiteral("note"), notRun);
        m_console.print(notRun);
    }
    m_log->keepWithInstallation(m_destination, steps, m_installer->permissions());
    // The desktop integration has told of its own problems; the script's
    // outcome is shown nowhere else.
    bool incomplete = problemShown(steps);
    for (const DesktopStep &step : steps) {
        if (step.kind == DesktopStep::PostInstallScript && !step.succeeded) {
            m_console.printError(tr("The post-install script \"%1\" exited with status %2.")
                                     .arg(Console::printable(step.file))
                                     .arg(step.status));
            incomplete = true;
        }
    }
    m_console.print(tr("The installation is finished."));
    m_console.print(tr("%1 is installed in \"%2\".")
                        .arg(QLatin1String(productIdentity.productName),
                             Console::printable(m_destination)));
    if (incomplete) {
        m_console.printError(tr("Not every step after the installation succeeded; see the "
                                "messages above."));
    }
    conclude(incomplete ? InstallIncomplete : InstallSucceeded);
}

void TextInstallation::interrupt()
{
    if (m_concluded || m_cancelRequested)
        return;
    m_cancelRequested = true;
    // Returns once the worker has stopped after the file in hand.
    m_installer->cancel();
    QTimer::singleShot(cancelReportMs, this, [this] {
        if (!m_concluded)
            installerCancelled();
    });
}

void TextInstallation::workerStopped()
{
    // Every report of the worker was posted before its end, and has been
    // handled: a run that is not concluded by now ended without a finish.
    if (m_concluded)
        return;
    if (m_cancelRequested) {
        installerCancelled();
        return;
    }
    m_printer->finish();
    reportFailure();
}

void TextInstallation::reportFailure()
{
    m_console.printError(QCoreApplication::translate(
        "InstallerWizard", "There was an error during the installation."));
    if (!m_log->whereSentence().isEmpty())
        m_console.printError(Console::printable(m_log->whereSentence()));
    conclude(InstallFailed);
}

QStringList TextInstallation::commandOptions() const
{
    QStringList options;
    if (m_hasGroup)
        options << QStringLiteral("--group") << (m_groupName.isEmpty() ? QString::number(m_group)
                                                                        : m_groupName);
    if (!m_moduleTree.isEmpty())
        options << QStringLiteral("--modulefiles") << m_moduleTree;
    if (!m_choices.desktop)
        options << QStringLiteral("--no-desktop");
    if (!m_choices.postInstallScript)
        options << QStringLiteral("--no-post-install");
    return options;
}

void TextInstallation::conclude(int status)
{
    if (m_concluded)
        return;
    m_concluded = true;
    m_status = status;
    m_loop.quit();
}
