// The install-type and destination pages.
#include "installer/wizard/installerwizard.h"

#include "installer/productidentity.h"
#include "ui_installerwizard.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QRegularExpression>

#include <algorithm>
#include <climits>

#include <unistd.h>

namespace {

InstallerWizard::UserIdSource userIdSource = nullptr;

uid_t realUserId()
{
    return userIdSource ? userIdSource() : ::getuid();
}

// base and path joined, without the doubled slashes and "." steps that say
// nothing; ".." is left to the system, which may resolve it through a link.
QString joinedPath(const QString &base, const QString &path)
{
    QStringList steps = (base + QLatin1Char('/') + path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    steps.removeAll(QStringLiteral("."));
    return QLatin1Char('/') + steps.join(QLatin1Char('/'));
}

bool longerThanTheSystemAllows(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= PATH_MAX)
        return true;
    const QList<QByteArray> names = encoded.split('/');
    return std::any_of(names.cbegin(), names.cend(),
                       [](const QByteArray &name) { return name.size() > NAME_MAX; });
}

} // namespace

QString InstallerWizard::absoluteDestination(const QString &typed)
{
    if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/")))
        return joinedPath(QDir::homePath(), typed.mid(1));
    if (typed.isEmpty() || !QDir::isRelativePath(typed))
        return typed;
    // Null when the working directory is gone.
    const QString working = QDir::currentPath();
    return working.isEmpty() ? QString() : joinedPath(working, typed);
}

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
        ui->destLineEdit->setText(
            joinedPath(QDir::homePath(), QLatin1String(productIdentity.userInstallSubpath)));
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
    const bool valid = showDestinationNote();
    if (QAbstractButton *next = button(QWizard::NextButton))
        next->setEnabled(valid);
}

bool InstallerWizard::showDestinationNote()
{
    // Anchored at the very end: "$" would also accept a final line feed.
    static const QRegularExpression rule(QStringLiteral("\\A\\S+\\z"));
    const QString typed = ui->destLineEdit->text();
    // The whole path is what must do: a relative one or one in the home
    // directory becomes absolute when the installation starts.
    const QString absolute = absoluteDestination(typed);
    QString note;
    if (!rule.match(typed).hasMatch() || (!absolute.isNull() && !rule.match(absolute).hasMatch()))
        note = tr("Note: this directory path must not contain whitespace.");
    else if (absolute.isNull())
        note = tr("Note: the working directory is gone; give the whole directory path.");
    else if (longerThanTheSystemAllows(absolute))
        note = tr("Note: this directory path is longer than the system allows.");
    if (!note.isEmpty())
        ui->directoryAdviceLabel->setText(note);
    ui->directoryAdviceLabel->setVisible(!note.isEmpty());
    // Heard in the field itself, where the user types: the reason Next is
    // disabled, else the sentence below the field.
    ui->destLineEdit->setAccessibleDescription(note.isEmpty() ? ui->label_5->text() : note);
    return note.isEmpty();
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
