// The install-type and destination pages.
#include "installer/wizard/installerwizard.h"

#include "installer/productidentity.h"
#include "ui_installerwizard.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QRegularExpression>

#include <unistd.h>

namespace {

InstallerWizard::UserIdSource userIdSource = nullptr;

uid_t realUserId()
{
    return userIdSource ? userIdSource() : ::getuid();
}

} // namespace

void InstallerWizard::setUserIdSource(UserIdSource source)
{
    userIdSource = source;
}

void InstallerWizard::applyUserDefaults()
{
    userIsRoot = realUserId() == 0;
    if (userIsRoot) {
        ui->destLineEdit->setText(QLatin1String(productIdentity.systemInstallPath));
        ui->allUsersRadioButton->setChecked(true);
    } else {
        ui->destLineEdit->setText(QDir::homePath() + QLatin1Char('/')
                                  + QLatin1String(productIdentity.userInstallSubpath));
        ui->justForMeRadioButton->setChecked(true);
        ui->allUsersRadioButton->setEnabled(false);
        ui->allUsersRadioButton->setText(tr("&All Users (must be root)"));
    }
}

void InstallerWizard::setDestination(const QString &path)
{
    ui->destLineEdit->setText(path);
}

void InstallerWizard::verifyDest()
{
    // Anchored at the very end: "$" would also accept a final line feed.
    static const QRegularExpression rule(QStringLiteral("\\A\\S+\\z"));
    const bool valid = rule.match(ui->destLineEdit->text()).hasMatch();
    if (QAbstractButton *next = button(QWizard::NextButton))
        next->setEnabled(valid);
    ui->directoryAdviceLabel->setVisible(!valid);
}

void InstallerWizard::on_pushButton_clicked()
{
    QFileDialog dialog(this, tr("Select a Destination Directory"), ui->destLineEdit->text());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList selected = dialog.selectedFiles();
    if (!selected.isEmpty())
        ui->destLineEdit->setText(selected.first());
}
