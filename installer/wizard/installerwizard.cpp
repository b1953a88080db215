#include "installer/wizard/installerwizard.h"

#include "ui_installerwizard.h"

InstallerWizard::InstallerWizard(QWidget *parent)
    : QWizard(parent)
    , ui(new Ui::InstallerWizardForm)
    , installer(nullptr)
    , forcedNextId(-1)
{
    ui->setupUi(this);
}

InstallerWizard::~InstallerWizard()
{
    delete ui;
}

bool InstallerWizard::loadLicence(const QString &dir)
{
    sourceDir = dir;
    return false;
}

void InstallerWizard::setDestination(const QString &)
{
}

int InstallerWizard::nextId() const
{
    return QWizard::nextId();
}
