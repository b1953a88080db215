#include "installer/wizard/installerwizard.h"

#include "installer/engine/installer.h"
#include "installer/productidentity.h"
#include "installer/wizard/accessiblenote.h"
#include "installer/wizard/labelscroller.h"
#include "ui_installerwizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontInfo>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QScreen>

#include <cmath>
#include <limits>

InstallerWizard::InstallerWizard(QWidget *parent)
    : QWizard(parent)
    , ui(new Ui::InstallerWizardForm)
    , installer(nullptr)
    , log(nullptr)
    , forcedNextId(-1)
    , userIsRoot(false)
    , errorReported(false)
    , showingErrors(false)
{
    presentNotesAsNotifications();
    ui->setupUi(this);
    resize(sizeForFont());
    setSideWidget(new QWidget(this));

    connect(this, &QWizard::currentIdChanged, this, &InstallerWizard::pageChanged);
    connect(ui->licenceTextBrowser, &QTextBrowser::anchorClicked, this,
            &InstallerWizard::openLicenceLink);

    QIcon icon;
    const QString iconName = QLatin1String(productIdentity.iconName);
    for (int size : {256, 192, 128, 64, 48, 32, 24, 22, 16})
        icon.addFile(QStringLiteral(":/icons/%1x%1/%2.png").arg(size).arg(iconName),
                     QSize(size, size), QIcon::Normal, QIcon::Off);
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);

    substituteProductName();
    nameForScreenReaders();

    ui->cancelPage->setFinalPage(true);
    ui->errorPage->setFinalPage(true);
    ui->finishPage->setFinalPage(true);
    ui->readyPage->setCommitPage(true);
    ui->installPage->setCommitPage(true);

    ui->welcomePage->setPixmap(
        QWizard::WatermarkPixmap,
        QPixmap(QStringLiteral(":/%1.png").arg(QLatin1String(productIdentity.bannerName))));

    ui->readyPage->setButtonText(QWizard::CommitButton, tr("Install"));
    ui->installPage->setButtonText(QWizard::CommitButton, tr("Install"));

    // A destination longer than the system allows is refused with a note,
    // never cut to the field's default limit.
    ui->destLineEdit->setMaxLength(std::numeric_limits<int>::max());
    // Before the defaults below, so that the default destination is checked.
    connect(ui->destLineEdit, &QLineEdit::textChanged, this, &InstallerWizard::verifyDest);

    // On the modern style's white pages a label draws with the Text role,
    // elsewhere with WindowText.
    QPalette palette = ui->directoryAdviceLabel->palette();
    const QBrush red(Qt::red, Qt::SolidPattern);
    palette.setBrush(QPalette::All, QPalette::WindowText, red);
    palette.setBrush(QPalette::All, QPalette::Text, red);
    ui->directoryAdviceLabel->setPalette(palette);
    ui->directoryAdviceLabel->hide();
    setUpModuleTree();

    // A status line or finish text naming a long path scrolls rather than
    // making the window taller than the screen.
    new LabelScroller(ui->statusTextLabel, 5);
    new LabelScroller(ui->finishTextLabel, 8);
    addLogPlaceLabels();

    applyUserDefaults();
}

InstallerWizard::~InstallerWizard()
{
    // The installer is a child and would only go with the widget's children;
    // stop its worker now, without its last reports reaching a half-gone wizard.
    if (installer) {
        installer->disconnect(this);
        delete installer;
    }
    delete ui;
}

void InstallerWizard::substituteProductName()
{
    const QString name = QLatin1String(productIdentity.productName);
    setWindowTitle(windowTitle().arg(name));
    ui->welcomePage->setTitle(ui->welcomePage->title().arg(name));
    for (QLabel *label : {ui->label, ui->label_3, ui->label_4, ui->label_6, ui->label_11,
                          ui->finishTextLabel})
        label->setText(label->text().arg(name));
}

// The form's size suits the toolkit's usual font, 9 points at 96 dots per
// inch (12 pixels). A larger font, from the desktop's settings or a higher
// resolution, makes the window larger in steps of a quarter, but never
// larger than the screen (with room for the title bar); long texts scroll.
QSize InstallerWizard::sizeForFont() const
{
    const int usualPixels = 12;
    const qreal grown = std::floor(QFontInfo(font()).pixelSize() * 4.0 / usualPixels) / 4;
    return (size() * qMax<qreal>(1, grown)).boundedTo(screen()->availableGeometry().size() * 9 / 10);
}

// A page is announced by its title; the arrows on Back and Next are
// decoration.
void InstallerWizard::nameForScreenReaders()
{
    for (int id : pageIds())
        page(id)->setAccessibleName(page(id)->title());
    button(QWizard::BackButton)->setAccessibleName(tr("Back"));
    button(QWizard::NextButton)->setAccessibleName(tr("Next"));
}

void InstallerWizard::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        // retranslateUi brings back the raw placeholders and the form's labels.
        substituteProductName();
        nameForScreenReaders();
        if (!finishedDestination.isNull())
            showFinishText();
        ui->readyPage->setButtonText(QWizard::CommitButton, tr("Install"));
        ui->installPage->setButtonText(QWizard::CommitButton, tr("Install"));
        if (!userIsRoot)
            ui->allUsersRadioButton->setText(tr("&All Users (must be root)"));
        // The note says why the destination is refused, in the new language.
        showDestinationNote();
        showLogPlace();
    }
    QWizard::changeEvent(event);
}

int InstallerWizard::nextId() const
{
    const QWizardPage *page = currentPage();
    if (page == ui->errorPage || page == ui->cancelPage)
        return -1;
    if (forcedNextId == -1)
        return QWizard::nextId();
    const int id = forcedNextId;
    forcedNextId = -1;
    return id;
}

void InstallerWizard::jumpTo(int id)
{
    forcedNextId = id;
    next();
}

void InstallerWizard::pageChanged()
{
    const QWizardPage *page = currentPage();
    if (page == ui->installPage) {
        startInstallation();
    } else if (page == ui->licencePage) {
        on_acceptRadioButton_toggled(ui->acceptRadioButton->isChecked());
    } else if (page == ui->destinationPage) {
        verifyDest();
    } else if (page == ui->installTypePage) {
        verifyModuleTree();
    } else if (page == ui->finishPage) {
        button(QWizard::CancelButton)->setEnabled(false);
    }
}

void InstallerWizard::reject()
{
    if (currentPage() == ui->installPage) {
        // Stay until the installer reports how it ended; the window's close
        // request is refused because the dialog is still visible.
        if (installer)
            installer->cancel();
        return;
    }
    QWizard::reject();
}

void InstallerWizard::accept()
{
    if (currentPage() == ui->finishPage && ui->releaseNotesCheckBox->isChecked())
        openReleaseNotes();
    QWizard::accept();
}
