#include "installer/engine/installer.h"
#include "installer/engine/installthread.h"
#include "installer/wizard/installerwizard.h"
#include "installer/wizard/messageboxprompt.h"
#include "installer/wizard/viewer.h"
#include "tests/installer/wizard/wizarddriver.h"
#include "tests/support/testenvironment.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

using WizardDriver::button;

namespace {

uid_t rootId() { return 0; }

// Generous for an installation of a few files; a wait that fails is reported
// only after twice as long again.
const int installTimeout = 15000;

template <typename T>
T *part(InstallerWizard &wizard, const char *name)
{
    T *child = wizard.findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("the wizard has no %s", name);
    return child;
}

// What a label shows; the zero-width spaces that let a path wrap show nothing.
QString shownText(QLabel *label)
{
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText().remove(QChar(0x200B));
}

QList<QWidget *> visibleWindows()
{
    QList<QWidget *> windows;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible())
            windows << w;
    }
    return windows;
}

// Notes the text of a label each time it is painted.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(QLabel *label) : label(label) { label->installEventFilter(this); }
    QStringList painted;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == label && event->type() == QEvent::Paint
            && (painted.isEmpty() || painted.last() != label->text()))
            painted << label->text();
        return false;
    }

private:
    QLabel *label;
};

} // namespace

class tst_InstallPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void finish_data();
    void finish();
    void finalPageButtons_data();
    void finalPageButtons();
    void errorBoxesThenErrorPage_data();
    void errorBoxesThenErrorPage();
    void cancelDuringInstallation_data();
    void cancelDuringInstallation();
    void destinationExists_data();
    void destinationExists();
    void releaseNotes_data();
    void releaseNotes();

private:
    // Starts an installation from `source` into `destination` and leaves
    // the wizard on the install page (or wherever the start took it).
    void startInstallation(InstallerWizard &wizard, const QString &source,
                           const QString &destination, bool forAllUsers = true,
                           const QString &moduleTree = QString());
    void installToFinish(InstallerWizard &wizard, const QString &destination);

    QTemporaryDir temp;
    QString treeSource;
    QString bigTreeSource;
    QString archiveSource;
    bool enginePresent = false;
    bool promptPresent = false;
};

void tst_InstallPages::initTestCase()
{
    WizardDriver::quietPlatformWarnings();
    QVERIFY(temp.isValid());
    treeSource = temp.path() + QStringLiteral("/tree");
    bigTreeSource = temp.path() + QStringLiteral("/big tree");
    archiveSource = temp.path() + QStringLiteral("/archive");
    QVERIFY(WizardDriver::makeTree(treeSource));
    QVERIFY(WizardDriver::makeTree(bigTreeSource, 3000));
    QVERIFY(WizardDriver::makeArchiveSource(archiveSource));

    // An engine that reports back, and a prompt that really asks.
    {
        Installer probe;
        QSignalSpy reports(&probe, &Installer::status);
        probe.install(treeSource, temp.path() + QStringLiteral("/probe"));
        enginePresent = reports.wait(5000) || !reports.isEmpty();
    }
    {
        BoxAnswerer yes(QMessageBox::Yes);
        MessageBoxPrompt prompt;
        promptPresent = prompt.askYesNo(nullptr, QStringLiteral("Probe"), QStringLiteral("Probe?"));
    }
}

void tst_InstallPages::init()
{
    if (!enginePresent)
        QSKIP("engine not present");
    InstallerWizard::setUserIdSource(&rootId);
}

void tst_InstallPages::cleanup()
{
    InstallerWizard::setUserIdSource(nullptr);
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<Viewer *>(w))
            w->close();
    }
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::topLevelWidgets().isEmpty(), 5000);
}

void tst_InstallPages::startInstallation(InstallerWizard &wizard, const QString &source,
                                         const QString &destination, bool forAllUsers,
                                         const QString &moduleTree)
{
    QVERIFY(wizard.loadLicence(source));
    wizard.setDestination(destination);
    wizard.show();
    QVERIFY(WizardDriver::goTo(wizard, 2));
    part<QRadioButton>(wizard, forAllUsers ? "allUsersRadioButton" : "justForMeRadioButton")->click();
    part<QCheckBox>(wizard, "moduleTreeCheckBox")->setChecked(!moduleTree.isNull());
    part<QLineEdit>(wizard, "moduleTreeLineEdit")->setText(moduleTree);
    QVERIFY(WizardDriver::goTo(wizard, 4));
    QAbstractButton *install = button(wizard, QWizard::CommitButton);
    QCOMPARE(install->text(), QStringLiteral("Install"));
    install->click();
}

void tst_InstallPages::installToFinish(InstallerWizard &wizard, const QString &destination)
{
    startInstallation(wizard, treeSource, destination);
    QTRY_VERIFY_WITH_TIMEOUT(wizard.currentId() >= 100, installTimeout);
    QCOMPARE(wizard.currentId(), int(InstallerWizard::FinishPageId));
}

void tst_InstallPages::finish_data()
{
    QTest::addColumn<bool>("fromArchive");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("forAllUsers");

    QTest::newRow("tree, plain path, for all users") << false << "zarvo" << true;
    QTest::newRow("tree, just for me") << false << "mine" << false;
    QTest::newRow("archive") << true << "from-archive" << true;
    QTest::newRow("ampersand in the path") << false << "tools&more" << true;
    QTest::newRow("path that looks like markup") << false << "<img/src=x>" << true;
    QTest::newRow("entity in the path") << false << "a&amp;b" << true;
    QTest::newRow("quotation marks in the path") << false << "say\"hi\"" << true;
    QTest::newRow("names of 255 characters")
        << false << QStringLiteral("%1/%1").arg(QString(255, QLatin1Char('n'))) << true;
    // Typed so, in a user's working and home directory.
    QTest::newRow("relative path") << false << "./relinst" << true;
    QTest::newRow("path in the home directory") << false << "~/zarvo" << false;
}

void tst_InstallPages::finish()
{
    QFETCH(bool, fromArchive);
    QFETCH(QString, name);
    QFETCH(bool, forAllUsers);

    BoxAnswerer answerer;
    QTemporaryDir target;
    const QString savedDir = QDir::currentPath();
    const QByteArray savedHome = qgetenv("HOME");
    QDir::setCurrent(target.path());
    qputenv("HOME", QFile::encodeName(target.path()));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(savedDir); qputenv("HOME", savedHome); });
    const bool typedAsIs = name.startsWith(QLatin1String("./")) || name.startsWith(QLatin1Char('~'));
    const QString destination = target.path() + QLatin1Char('/') + (typedAsIs ? name.mid(2) : name);
    const QString site = target.path() + QStringLiteral("/site");
    QVERIFY(QDir().mkpath(site));
    InstallerWizard wizard;
    startInstallation(wizard, fromArchive ? archiveSource : treeSource,
                      typedAsIs ? name : destination, forAllUsers, site);
    QCOMPARE(wizard.currentId(), 5);
    QVERIFY(!button(wizard, QWizard::CommitButton)->isEnabled());
    QVERIFY(!button(wizard, QWizard::BackButton)->isEnabled());

    auto *installer = wizard.findChild<Installer *>();
    QVERIFY(installer);
    QCOMPARE(installer->installMode(), forAllUsers ? 0 : 1);
    PaintRecorder status(part<QLabel>(wizard, "statusTextLabel"));

    QTRY_VERIFY_WITH_TIMEOUT(wizard.currentId() >= 100, installTimeout);
    QVERIFY2(wizard.currentId() == InstallerWizard::FinishPageId, qPrintable(answerer.describe()));
    QVERIFY2(QFileInfo::exists(destination + QStringLiteral("/.installed")), qPrintable(destination));
    QVERIFY(QFileInfo::exists(destination + QStringLiteral("/bin/pesk")));
    QCOMPARE(installer->destination(), destination);
    // The site's module tree got the installation's modulefile.
    QFile installed(destination + QStringLiteral("/modulefiles/corvane-zarvo/25.1.3"));
    QFile placed(site + QStringLiteral("/corvane-zarvo/25.1.3"));
    QVERIFY(installed.open(QIODevice::ReadOnly) && placed.open(QIODevice::ReadOnly));
    QCOMPARE(placed.readAll(), installed.readAll());

    const QString finishText = shownText(part<QLabel>(wizard, "finishTextLabel"));
    const QString expected = QStringLiteral("Corvane Zarvo is installed in \"%1\".").arg(destination);
    QVERIFY2(finishText.contains(expected), qPrintable(finishText));
    QVERIFY(!finishText.contains(QLatin1String("%2")));
    QCOMPARE(part<QLineEdit>(wizard, "destLineEdit")->text(), destination);
    QVERIFY2(wizard.width() <= wizard.screen()->availableGeometry().width(),
             "a long destination wraps instead of widening the window");
    QTRY_COMPARE_WITH_TIMEOUT(part<QProgressBar>(wizard, "progressBar")->value(), 100, 5000);
    // Each step of the after-work shows its status while it runs, although
    // no events are processed between the steps; without a desktop session
    // no icons are added, and the status line does not claim it.
    for (QString &text : status.painted)
        text.remove(QChar(0x200B));
    QVERIFY(!status.painted.contains(QStringLiteral("Adding icons to desktop menu")));
    const QStringList steps{QStringLiteral("Creating file association"),
                            QStringLiteral("Cleaning up files from previous installation(s)"),
                            QStringLiteral("Finished")};
    const int first = status.painted.indexOf(steps.first());
    QVERIFY2(first >= 0 && status.painted.mid(first, steps.size()) == steps,
             qPrintable(status.painted.join(QLatin1Char('|'))));
    QCOMPARE(wizard.nextId(), -1);
}

void tst_InstallPages::finalPageButtons_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("cancelEnabled");

    QTest::newRow("finished") << int(InstallerWizard::FinishPageId) << false;
    QTest::newRow("error") << int(InstallerWizard::ErrorPageId) << true;
    QTest::newRow("cancelled") << int(InstallerWizard::CancelPageId) << true;
}

void tst_InstallPages::finalPageButtons()
{
    QFETCH(int, page);
    QFETCH(bool, cancelEnabled);

    BoxAnswerer answerer(QMessageBox::No);
    QTemporaryDir target;
    QString destination = target.path() + QStringLiteral("/zarvo");
    if (page == InstallerWizard::ErrorPageId) {
        QVERIFY(WizardDriver::writeFile(target.path() + QStringLiteral("/file"), "x"));
        destination = target.path() + QStringLiteral("/file/zarvo");
    } else if (page == InstallerWizard::CancelPageId) {
        destination = target.path();
        if (!promptPresent)
            QSKIP("message-box prompt not present");
    }
    InstallerWizard wizard;
    startInstallation(wizard, treeSource, destination);
    QTRY_VERIFY_WITH_TIMEOUT(wizard.currentId() >= 100, installTimeout);
    QVERIFY2(wizard.currentId() == page, qPrintable(answerer.describe()));

    QAbstractButton *back = button(wizard, QWizard::BackButton);
    QVERIFY(back->isVisible() && !back->isEnabled());
    QVERIFY(!button(wizard, QWizard::NextButton)->isVisible());
    QVERIFY(!button(wizard, QWizard::CommitButton)->isVisible());
    QCOMPARE(button(wizard, QWizard::CancelButton)->isEnabled(), cancelEnabled);
    QAbstractButton *finish = button(wizard, QWizard::FinishButton);
    QVERIFY(finish->isVisible() && finish->isEnabled());
    QCOMPARE(wizard.nextId(), -1);

    // A final page only closes the wizard.
    QAbstractButton *closer = cancelEnabled ? button(wizard, QWizard::CancelButton) : finish;
    if (page == InstallerWizard::FinishPageId)
        part<QCheckBox>(wizard, "releaseNotesCheckBox")->setChecked(false);
    closer->click();
    QVERIFY(!wizard.isVisible());
    QVERIFY(visibleWindows().isEmpty());
}

void tst_InstallPages::errorBoxesThenErrorPage_data()
{
    QTest::addColumn<QStringList>("unreadable"); // source files whose data cannot be read

    QTest::newRow("destination blocked by a file") << QStringList();
    // Each file fails, the copy goes on and reports them all; the run ends
    // on the error page with nothing installed, without the after-work.
    QTest::newRow("two files fail, then the copy finishes")
        << QStringList{"bin/pesk-mem", "share/readme-mem"};
}

void tst_InstallPages::errorBoxesThenErrorPage()
{
    QFETCH(QStringList, unreadable);

    BoxAnswerer answerer(QMessageBox::Yes);
    QTemporaryDir target;
    // A regular file where a directory must go, named like markup.
    const QString blocker = target.path() + QStringLiteral("/a<b>c");
    QVERIFY(WizardDriver::writeFile(blocker, "not a directory"));
    QString destination = blocker + QStringLiteral("/zarvo");
    QString source = treeSource;
    QStringList paths{destination};
    if (!unreadable.isEmpty()) {
        destination = target.path() + QStringLiteral("/zarvo");
        source = target.path() + QStringLiteral("/source");
        QVERIFY(WizardDriver::makeTree(source));
        paths.clear();
        // A file whose every read fails, even for root.
        for (const QString &path : qAsConst(unreadable)) {
            QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), source + QLatin1Char('/') + path));
            paths << source + QLatin1Char('/') + path;
        }
    }
    InstallerWizard wizard;
    startInstallation(wizard, source, destination);
    QTRY_VERIFY_WITH_TIMEOUT(wizard.currentId() >= 100, installTimeout);
    QCOMPARE(wizard.currentId(), int(InstallerWizard::ErrorPageId));
    auto *installer = wizard.findChild<Installer *>();
    QTRY_VERIFY_WITH_TIMEOUT(installer->installThread()->isFinished(), installTimeout);

    // One box at a time for each report, each naming its own path.
    QList<SeenBox> boxes;
    QTRY_COMPARE_WITH_TIMEOUT((boxes = answerer.seen()).size(), paths.size(), 5000);
    const QString logPlace = QStringLiteral("The log of this installation is in \"%1\".")
                                 .arg(part<QLabel>(wizard, "logPlaceLabel")->text().section(
                                     QLatin1Char('"'), 1, -2).remove(QChar(0x200b)));
    for (const SeenBox &box : qAsConst(boxes)) {
        QCOMPARE(box.title, QStringLiteral("Install Error"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.parent, static_cast<QWidget *>(&wizard));
        QCOMPARE(box.format, Qt::PlainText);
        const QString message = box.text.section(QStringLiteral("\n\n"), 0, 0);
        QVERIFY2(paths.removeAll(message.section(QLatin1Char('"'), 1, -2)) == 1, qPrintable(box.text));
        QVERIFY2(box.text.endsWith(QStringLiteral("\n\n") + logPlace), qPrintable(box.text));
    }
    QVERIFY(QFileInfo::exists(logPlace.section(QLatin1Char('"'), 1, -2)));
    // Nothing of the failed run is left.
    QVERIFY(!QFileInfo::exists(target.path() + QStringLiteral("/zarvo")));
    QVERIFY2(!answerer.sawNestedBoxes(), qPrintable(answerer.describe()));
    QCOMPARE(wizard.currentId(), int(InstallerWizard::ErrorPageId));
    QCOMPARE(part<QLabel>(wizard, "label_10")->text(),
             QStringLiteral("There was an error during the installation."));
    // The messages are shown only in the boxes; the after-work did not run.
    const QString status = part<QLabel>(wizard, "statusTextLabel")->text();
    QVERIFY2(!answerer.describe().contains(status) && status != QLatin1String("Finished"),
             qPrintable(status));
    QVERIFY(part<QLabel>(wizard, "finishTextLabel")->text().contains(QLatin1String("%2")));

    QVERIFY(!button(wizard, QWizard::BackButton)->isEnabled());
    button(wizard, unreadable.isEmpty() ? QWizard::FinishButton : QWizard::CancelButton)->click();
    QVERIFY(!wizard.isVisible());
    QVERIFY2(visibleWindows().isEmpty(), "closing the error page opens nothing");
}

void tst_InstallPages::cancelDuringInstallation_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << "button";
    QTest::newRow("Escape key") << "escape";
    QTest::newRow("window closed") << "close";
}

void tst_InstallPages::cancelDuringInstallation()
{
    QFETCH(QString, how);

    BoxAnswerer answerer;
    QTemporaryDir target;
    const QString destination = target.path() + QStringLiteral("/zarvo");
    InstallerWizard wizard;
    startInstallation(wizard, bigTreeSource, destination);
    QCOMPARE(wizard.currentId(), 5);

    if (how == QLatin1String("button")) {
        QAbstractButton *cancel = button(wizard, QWizard::CancelButton);
        QVERIFY(cancel->isVisible() && cancel->isEnabled());
        cancel->click();
    } else if (how == QLatin1String("escape")) {
        QTest::keyClick(&wizard, Qt::Key_Escape);
    } else {
        QVERIFY2(!wizard.close(), "closing the window during the installation is refused");
    }
    QVERIFY2(wizard.isVisible(), "a cancel request keeps the wizard open");
    QCOMPARE(wizard.result(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(wizard.currentId() >= 100, installTimeout);
    QVERIFY2(wizard.currentId() == InstallerWizard::CancelPageId, qPrintable(answerer.describe()));
    QVERIFY2(answerer.seen().isEmpty(), qPrintable(answerer.describe()));
    QVERIFY2(!QFileInfo::exists(destination + QStringLiteral("/.installed")),
             "a cancelled installation is not marked as installed");
    QVERIFY(wizard.isVisible());
    QCOMPARE(part<QLabel>(wizard, "label_8")->text(), QStringLiteral("The installation was cancelled."));
}

void tst_InstallPages::destinationExists_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("answered No") << false;
    QTest::newRow("answered Yes") << true;
}

void tst_InstallPages::destinationExists()
{
    QFETCH(bool, yes);
    if (!promptPresent)
        QSKIP("message-box prompt not present");

    BoxAnswerer answerer(yes ? QMessageBox::Yes : QMessageBox::No);
    QTemporaryDir target;
    // Markup in the name: the question must show it as typed.
    const QString destination = target.path() + QStringLiteral("/<i>old</i>");
    QVERIFY(QDir().mkpath(destination));
    InstallerWizard wizard;
    startInstallation(wizard, treeSource, destination);
    if (!yes) {
        // Declining takes the wizard straight to the cancel page.
        QCOMPARE(wizard.currentId(), int(InstallerWizard::CancelPageId));
        QCOMPARE(part<QLabel>(wizard, "statusTextLabel")->text(), QString());
        QCOMPARE(part<QProgressBar>(wizard, "progressBar")->value(), 0);
    }
    QTRY_VERIFY_WITH_TIMEOUT(wizard.currentId() >= 100, installTimeout);
    QCOMPARE(wizard.currentId(),
             int(yes ? InstallerWizard::FinishPageId : InstallerWizard::CancelPageId));
    QVERIFY(!answerer.seen().isEmpty());
    const SeenBox box = answerer.seen().first();
    QCOMPARE(box.title, QStringLiteral("Destination Exists"));
    QCOMPARE(box.parent, static_cast<QWidget *>(&wizard));
    QCOMPARE(box.format, Qt::PlainText);
    QVERIFY2(box.text.contains(destination), qPrintable(box.text));
    QCOMPARE(QFileInfo::exists(destination + QStringLiteral("/.installed")), yes);
}

void tst_InstallPages::releaseNotes_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<bool>("escape");
    QTest::addColumn<bool>("viewerOpens");

    QTest::newRow("Finish with the box ticked") << true << false << true;
    QTest::newRow("Finish with the box unticked") << false << false << false;
    QTest::newRow("Escape on the finish page") << true << true << false;
}

void tst_InstallPages::releaseNotes()
{
    QFETCH(bool, ticked);
    QFETCH(bool, escape);
    QFETCH(bool, viewerOpens);

    BoxAnswerer answerer;
    QTemporaryDir target;
    const QString destination = target.path() + QStringLiteral("/zarvo");
    InstallerWizard wizard;
    installToFinish(wizard, destination);
    auto *box = part<QCheckBox>(wizard, "releaseNotesCheckBox");
    QVERIFY(box->isChecked());
    QVERIFY(!button(wizard, QWizard::CancelButton)->isEnabled());
    box->setChecked(ticked);

    // Closing the wizard happens inside the application's event loop, set up
    // as start-up sets it, so that the test sees when the program would end.
    QMetaObject::Connection quitOnLast = connect(qApp, &QGuiApplication::lastWindowClosed,
                                                 qApp, &QCoreApplication::quit);
    QPointer<Viewer> viewer;
    QString viewerTitle;
    QString viewerText;
    bool runningWithViewer = false;
    QTimer::singleShot(0, this, [&] {
        if (escape)
            QTest::keyClick(&wizard, Qt::Key_Escape);
        else
            button(wizard, QWizard::FinishButton)->click();
        for (QWidget *w : visibleWindows()) {
            if (auto *v = qobject_cast<Viewer *>(w))
                viewer = v;
        }
        if (!viewer)
            return;
        viewerTitle = viewer->windowTitle();
        // Still running on a later turn of the loop: the viewer keeps it alive,
        // and has read its file by then.
        QTimer::singleShot(50, this, [&] {
            runningWithViewer = viewer && viewer->isVisible();
            if (viewer)
                viewerText = viewer->findChild<QTextBrowser *>()->toPlainText();
            if (viewer)
                viewer->close();
        });
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(10000);
    const int status = QApplication::exec();
    disconnect(quitOnLast);

    QCOMPARE(status, 0);
    QVERIFY(!wizard.isVisible());
    QCOMPARE(wizard.result(), int(escape ? QDialog::Rejected : QDialog::Accepted));
    QCOMPARE(!viewerTitle.isNull(), viewerOpens);
    if (viewerOpens) {
        QVERIFY2(runningWithViewer, "the program ended while the release notes were open");
        QCOMPARE(viewerTitle, QStringLiteral("RELEASE-NOTES"));
        QCOMPARE(viewerText,
                 QStringLiteral("Corvane Zarvo 25.1.3\n\n  * <b>faster</b> start-up & more\n"));
        QTRY_VERIFY_WITH_TIMEOUT(viewer.isNull(), 5000);
    }
    QVERIFY(visibleWindows().isEmpty());
}

ZARVO_TEST_MAIN_WIDGETS(tst_InstallPages)
#include "tst_installpages.moc"
