#ifndef ZARVO_WIZARD_INSTALLERWIZARD_H
#define ZARVO_WIZARD_INSTALLERWIZARD_H

#include <QWizard>

class Installer;
namespace Ui { class InstallerWizardForm; }

class InstallerWizard : public QWizard
{
    Q_OBJECT

public:
    explicit InstallerWizard(QWidget *parent = nullptr);
    ~InstallerWizard() override;

    bool loadLicence(const QString &sourceDir);
    void setDestination(const QString &path);

    int nextId() const override;

private:
    Ui::InstallerWizardForm *ui;
    Installer *installer;
    QString sourceDir;
    mutable int forcedNextId;
};

#endif
