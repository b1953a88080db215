// The install page and the jumps to the final pages.
#include "installer/wizard/installerwizard.h"

#include "installer/desktop/postinstallsequence.h"
#include "installer/engine/installer.h"
#include "ui_installerwizard.h"

#include <QAbstractButton>
#include <QMessageBox>

void InstallerWizard::startInstallation()
{
    installer = new Installer(this, &prompt);
    installer->setInstallMode(ui->allUsersRadioButton->isChecked() ? 0 : 1);
    installer->setModuleTree(moduleTree());
    connect(installer, &Installer::progress, ui->progressBar, &QProgressBar::setValue);
    connect(installer, &Installer::status, ui->statusTextLabel, &QLabel::setText);
    connect(installer, &Installer::error, this, &InstallerWizard::installer_error);
    connect(installer, &Installer::cancelled, this, &InstallerWizard::installer_cancelled);
    connect(installer, &Installer::finished, this, &InstallerWizard::installer_finished);
    installer->install(sourceDir, ui->destLineEdit->text());
    button(QWizard::CommitButton)->setEnabled(false);
}

void InstallerWizard::showStatus(const QString &text)
{
    // The steps run on this thread; repaint now so each text shows while
    // its step runs.
    ui->statusTextLabel->setText(text);
    ui->statusTextLabel->repaint();
}

void InstallerWizard::installer_finished()
{
    const QString destination = ui->destLineEdit->text();
    runPostInstallSequence(*installer, destination,
                           [this](const QString &text) { showStatus(text); });
    // The finish text is rich text: the destination must show as typed.
    finishedDestination = destination;
    ui->finishTextLabel->setText(ui->finishTextLabel->text().arg(destination.toHtmlEscaped()));
    jumpTo(FinishPageId);
}

void InstallerWizard::installer_cancelled()
{
    jumpTo(CancelPageId);
}

void InstallerWizard::installer_error(const QString &message)
{
    // Plain text: a path in the message may look like markup.
    QMessageBox box(QMessageBox::Critical, tr("Install Error"), message, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    jumpTo(ErrorPageId);
}
