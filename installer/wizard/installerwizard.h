#ifndef ZARVO_WIZARD_INSTALLERWIZARD_H
#define ZARVO_WIZARD_INSTALLERWIZARD_H

#include "installer/wizard/messageboxprompt.h"

#include <QStringList>
#include <QWizard>

#include <sys/types.h>

class InstallationLog;
class Installer;
class QLabel;
class QUrl;
namespace Ui { class InstallerWizardForm; }

// The installer's main window: welcome, licence, install type, destination,
// ready and install pages, then the cancelled, error or finished page.
class InstallerWizard : public QWizard
{
    Q_OBJECT

public:
    enum { CancelPageId = 100, ErrorPageId = 101, FinishPageId = 102 };

    explicit InstallerWizard(QWidget *parent = nullptr);
    ~InstallerWizard() override;

    // Returns false when a licence file is missing from the installation files.
    bool loadLicence(const QString &sourceDir);
    void setDestination(const QString &path);

    // The defaults of the install-type and destination pages follow the real
    // user id; tests replace where it comes from. Null restores getuid.
    using UserIdSource = uid_t (*)();
    static void setUserIdSource(UserIdSource source);

protected:
    void changeEvent(QEvent *event) override;

public slots:
    void accept() override;
    void reject() override;

public:
    int nextId() const override;

private slots:
    void on_acceptRadioButton_toggled(bool checked);
    void on_pushButton_clicked();
    void installer_finished();
    void installer_cancelled();
    void installer_error(const QString &message);
    void pageChanged();
    void verifyDest();

private:
    void substituteProductName();
    void nameForScreenReaders();
    QSize sizeForFont() const;
    void applyUserDefaults();
    // The site's module tree on the install-type page (installerwizardmoduletree.cpp).
    void setUpModuleTree();
    void verifyModuleTree();
    QString moduleTree() const;
    void startInstallation();
    void showStatus(const QString &text);
    void runAfterWork();
    void showFinishText();
    // The error and cancelled pages say where the log of the run is.
    void addLogPlaceLabels();
    void showLogPlace();
    void openLicenceLink(const QUrl &link);
    void openReleaseNotes();
    void jumpTo(int id);
    bool showDestinationNote();
    static QString absoluteDestination(const QString &typed);

    Ui::InstallerWizardForm *ui;
    Installer *installer;
    InstallationLog *log;
    QList<QLabel *> logPlaceLabels;
    QString sourceDir;
    mutable int forcedNextId;
    MessageBoxPrompt prompt;
    // The finish text keeps its destination placeholder until the
    // installation has finished; remembered to survive a retranslation.
    QString finishedDestination;
    bool userIsRoot;
    // Once an error has been reported the installation ends on the error
    // page; its boxes are shown one after another.
    bool errorReported;
    bool showingErrors;
    QStringList pendingErrors;
};

#endif
