// The install page and the jumps to the final pages.
#include "installer/wizard/installerwizard.h"

#include "installer/desktop/postinstallsequence.h"
#include "installer/engine/installer.h"
#include "installer/log/installationlog.h"
#include "installer/wizard/breakabletext.h"
#include "ui_installerwizard.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

void InstallerWizard::startInstallation()
{
    // What is installed to, shown on the finish page and written into the
    // desktop entry is the absolute path.
    const QString destination = absoluteDestination(ui->destLineEdit->text());
    if (destination != ui->destLineEdit->text())
        ui->destLineEdit->setText(destination);

    // Every run leaves a log, whatever becomes of it.
    log = new InstallationLog(this);
    log->open();
    installer = new Installer(this, log->loggingPrompt(&prompt));
    installer->setInstallMode(ui->allUsersRadioButton->isChecked() ? 0 : 1);
    installer->setModuleTree(moduleTree());
    const QStringList moduleOption = moduleTree().isEmpty()
        ? QStringList()
        : QStringList{QStringLiteral("--modulefiles"), moduleTree()};
    log->writeHeader(installer->options(),
                     InstallationLog::equivalentCommand(destination,
                                                        QFileInfo::exists(destination),
                                                        installer->installMode() == 0, false,
                                                        moduleOption));
    log->observe(installer);
    showLogPlace();
    connect(installer, &Installer::progress, ui->progressBar, &QProgressBar::setValue);
    connect(installer, &Installer::status, this, &InstallerWizard::showStatus);
    connect(installer, &Installer::error, this, &InstallerWizard::installer_error);
    connect(installer, &Installer::cancelled, this, &InstallerWizard::installer_cancelled);
    connect(installer, &Installer::finished, this, &InstallerWizard::installer_finished);
    installer->install(sourceDir, destination);
    button(QWizard::CommitButton)->setEnabled(false);
}

void InstallerWizard::showStatus(const QString &text)
{
    // A status line may carry a long path: it wraps instead of widening the
    // window.
    ui->statusTextLabel->setText(breakableAnywhere(text));
    // Read out as it was said, without the breaks.
    ui->statusTextLabel->setAccessibleName(text);
}

void InstallerWizard::installer_finished()
{
    // An installation that reported an error ends on the error page, even
    // when the copy went on to its end; every report comes before `finished`.
    if (!errorReported)
        runAfterWork();
}

void InstallerWizard::runAfterWork()
{
    const QString destination = ui->destLineEdit->text();
    const DesktopSteps steps = runPostInstallSequence(*installer, destination,
                                                      [this](const QString &text) {
        // The steps run on this thread; repaint now so each text shows while
        // its step runs.
        log->status(text);
        showStatus(text);
        ui->statusTextLabel->repaint();
    });
    log->keepWithInstallation(destination, steps, installer->permissions());
    // The finish text is rich text: the destination must show as typed.
    finishedDestination = destination;
    showFinishText();
    jumpTo(FinishPageId);
}

void InstallerWizard::showFinishText()
{
    const QString text = ui->finishTextLabel->text();
    ui->finishTextLabel->setText(text.arg(breakableAnywhere(finishedDestination).toHtmlEscaped()));
    ui->finishTextLabel->setAccessibleName(
        QTextDocumentFragment::fromHtml(text.arg(finishedDestination.toHtmlEscaped())).toPlainText());
}

void InstallerWizard::installer_cancelled()
{
    if (!errorReported)
        jumpTo(CancelPageId);
}

void InstallerWizard::installer_error(const QString &message)
{
    errorReported = true;
    pendingErrors.append(message);
    // Reports that come while a box is open wait for it to be closed: one box
    // at a time, never one inside another's event loop.
    if (showingErrors)
        return;
    showingErrors = true;
    while (!pendingErrors.isEmpty()) {
        QString text = pendingErrors.takeFirst();
        if (log && !log->whereSentence().isEmpty())
            text += QStringLiteral("\n\n") + log->whereSentence();
        prompt.tell(this, UserPrompt::Critical, tr("Install Error"), text);
    }
    showingErrors = false;
    jumpTo(ErrorPageId);
}

void InstallerWizard::addLogPlaceLabels()
{
    const std::pair<QWizardPage *, QLabel *> pages[] = {{ui->cancelPage, ui->label_9},
                                                        {ui->errorPage, ui->label_10}};
    for (const auto &page : pages) {
        auto *layout = qobject_cast<QVBoxLayout *>(page.first->layout());
        if (!layout)
            continue;
        auto *label = new QLabel(page.first);
        label->setObjectName(QStringLiteral("logPlaceLabel"));
        label->setWordWrap(true);
        label->hide();
        layout->insertWidget(layout->indexOf(page.second) + 1, label);
        logPlaceLabels << label;
    }
}

void InstallerWizard::showLogPlace()
{
    const QString sentence = log ? log->whereSentence() : QString();
    for (QLabel *label : qAsConst(logPlaceLabels)) {
        label->setText(breakableAnywhere(sentence));
        // Read out as it is, without the break opportunities.
        label->setAccessibleName(sentence);
        label->setVisible(!sentence.isEmpty());
    }
}
