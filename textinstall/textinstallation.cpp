#include "textinstall/textinstallation.h"

#include "installer/desktop/postinstallsequence.h"
#include "installer/engine/installer.h"
#include "installer/engine/installthread.h"
#include "installer/productidentity.h"
#include "textinstall/console.h"
#include "textinstall/progressprinter.h"
#include "textinstall/signalwatcher.h"
#include "textinstall/terminalprompt.h"

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
    m_workerStopped = false;
    m_status = InstallFailed;

    Installer installer(nullptr, &m_prompt);
    installer.setInstallMode(m_installMode);
    if (m_hasGroup)
        installer.setGroup(m_group);
    installer.setModuleTree(m_moduleTree);
    ProgressPrinter printer(m_console);
    m_installer = &installer;
    m_printer = &printer;

    connect(&installer, &Installer::progress, &printer, &ProgressPrinter::setProgress);
    connect(&installer, &Installer::status, &printer, &ProgressPrinter::setStatus);
    connect(&installer, &Installer::error, this, &TextInstallation::installerError);
    connect(&installer, &Installer::cancelled, this, &TextInstallation::installerCancelled);
    // One more turn of the event loop lets the copy's own last reports, which
    // travel one hop further than the finish, arrive before the after-work.
    connect(&installer, &Installer::finished, this, &TextInstallation::installerFinished,
            Qt::QueuedConnection);
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
    }
    if (!m_concluded)
        m_loop.exec();

    disconnect(signalConnection);
    printer.finish();
    m_installer = nullptr;
    m_printer = nullptr;
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
    // Declining to reuse an existing destination is a refusal, not an interruption.
    const bool refused = m_prompt.declined() && !m_prompt.interrupted() && !m_cancelRequested;
    conclude(refused ? InstallFailed : InstallInterrupted);
}

void TextInstallation::installerFinished()
{
    if (m_concluded)
        return;
    m_printer->finish();
    runPostInstallSequence(*m_installer, m_destination,
                           [this](const QString &step) { m_printer->showStep(step); });
    m_printer->finish();
    if (m_hadError) {
        reportFailure();
        return;
    }
    m_console.print(tr("The installation is finished."));
    m_console.print(tr("%1 is installed in \"%2\".")
                        .arg(QLatin1String(productIdentity.productName),
                             Console::printable(m_destination)));
    conclude(InstallSucceeded);
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
    if (m_concluded || m_workerStopped)
        return;
    m_workerStopped = true;
    // The copy's own reports travel two queued hops behind the worker's end:
    // let both pass before deciding that the run ended without a finish.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_concluded)
                        return;
                    if (m_cancelRequested) {
                        installerCancelled();
                        return;
                    }
                    m_printer->finish();
                    reportFailure();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void TextInstallation::reportFailure()
{
    m_console.printError(QCoreApplication::translate(
        "InstallerWizard", "There was an error during the installation."));
    conclude(InstallFailed);
}

void TextInstallation::conclude(int status)
{
    if (m_concluded)
        return;
    m_concluded = true;
    m_status = status;
    m_loop.quit();
}
