// The licence page and the release notes.
#include "installer/wizard/installerwizard.h"

#include "installer/wizard/viewer.h"
#include "ui_installerwizard.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

QString join(const QString &directory, const QString &name)
{
    return directory + QLatin1Char('/') + name;
}

} // namespace

bool InstallerWizard::loadLicence(const QString &dir)
{
    sourceDir = dir;
    const QString terms = join(dir, QStringLiteral("license_terms"));
    const QString licencePath = join(terms, QStringLiteral("license_agreement.txt"));
    if (!QFileInfo::exists(licencePath))
        return false;
    const QString supplementaryPath = join(terms, QStringLiteral("supplementary_terms.txt"));
    if (!QFileInfo::exists(supplementaryPath))
        return false;

    QFile licence(licencePath);
    QFile supplementary(supplementaryPath);
    if (!licence.open(QIODevice::ReadOnly | QIODevice::Text)
        || !supplementary.open(QIODevice::ReadOnly | QIODevice::Text))
        return true;
    QTextStream licenceStream(&licence);
    QTextStream supplementaryStream(&supplementary);
    ui->licenceTextBrowser->setText(licenceStream.readAll() + QStringLiteral("\n\n")
                                    + supplementaryStream.readAll());
    return true;
}

// The licence itself always stays in view: web and mail links go to the
// desktop's handler, any other link (relative, local file) does nothing.
void InstallerWizard::openLicenceLink(const QUrl &link)
{
    static const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"),
                                     QStringLiteral("mailto")};
    if (!link.isRelative() && schemes.contains(link.scheme(), Qt::CaseInsensitive))
        QDesktopServices::openUrl(link);
}

void InstallerWizard::on_acceptRadioButton_toggled(bool checked)
{
    if (QAbstractButton *next = button(QWizard::NextButton))
        next->setEnabled(checked);
}

void InstallerWizard::openReleaseNotes()
{
    const QString path = join(join(ui->destLineEdit->text(), QStringLiteral("doc")),
                              QStringLiteral("RELEASE-NOTES"));
    auto *viewer = new Viewer(path);
    viewer->show();
}
