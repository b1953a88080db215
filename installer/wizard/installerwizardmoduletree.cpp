// The install-type page's module tree: a site's module tree that gets the
// modulefile too, checked as it is typed.
#include "installer/wizard/installerwizard.h"

#include "installer/site/sitefiles.h"
#include "ui_installerwizard.h"

#include <QAbstractButton>

void InstallerWizard::setUpModuleTree()
{
    // Red like the destination's note, whose palette is set by now.
    ui->moduleTreeAdviceLabel->setPalette(ui->directoryAdviceLabel->palette());
    ui->moduleTreeAdviceLabel->hide();
    ui->moduleTreeLineEdit->setEnabled(false);
    connect(ui->moduleTreeCheckBox, &QCheckBox::toggled, this, [this](bool checked) {
        verifyModuleTree();
        if (checked)
            ui->moduleTreeLineEdit->setFocus();
    });
    connect(ui->moduleTreeLineEdit, &QLineEdit::textChanged, this, [this] { verifyModuleTree(); });
}

void InstallerWizard::verifyModuleTree()
{
    const bool wanted = ui->moduleTreeCheckBox->isChecked();
    ui->moduleTreeLineEdit->setEnabled(wanted);
    const QString problem =
        wanted ? SiteFiles::moduleTreeProblem(ui->moduleTreeLineEdit->text()) : QString();
    ui->moduleTreeAdviceLabel->setText(problem);
    ui->moduleTreeAdviceLabel->setVisible(!problem.isEmpty());
    ui->moduleTreeLineEdit->setAccessibleDescription(
        problem.isEmpty() ? ui->moduleTreeLineEdit->placeholderText() : problem);
    if (currentPage() == ui->installTypePage)
        button(QWizard::NextButton)->setEnabled(problem.isEmpty());
}

QString InstallerWizard::moduleTree() const
{
    return ui->moduleTreeCheckBox->isChecked() ? ui->moduleTreeLineEdit->text() : QString();
}
