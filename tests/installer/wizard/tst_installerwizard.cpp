#include "installer/engine/installer.h"
#include "installer/wizard/breakabletext.h"
#include "installer/wizard/installerwizard.h"
#include "tests/installer/wizard/wizarddriver.h"
#include "tests/support/testenvironment.h"

#include <QAbstractButton>
#include <QAccessible>
#include <algorithm>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTranslator>
#include <QWizardPage>

using WizardDriver::button;

namespace {

uid_t rootId() { return 0; }
uid_t userId() { return 1000; }

QString heard(QWidget *widget, QAccessible::Text which)
{
    return QAccessible::queryAccessibleInterface(widget)->text(which);
}

template <typename T>
T *part(InstallerWizard &wizard, const char *name)
{
    T *child = wizard.findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("the wizard has no %s", name);
    return child;
}

// Notes the links the desktop is asked to open.
class LinkRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

// Notes under which context each text is looked up; translates nothing.
class ContextRecorder : public QTranslator
{
public:
    QMultiHash<QString, QString> asked;

    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        const_cast<ContextRecorder *>(this)->asked.insert(QString::fromUtf8(context),
                                                          QString::fromUtf8(source));
        return QString();
    }
};

} // namespace

class tst_InstallerWizard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void buttonsByPage_data();
    void buttonsByPage();
    void productNameInTexts();
    void licenceGatesNext();
    void destinationRule_data();
    void destinationRule();
    void moduleTreeRule_data();
    void moduleTreeRule();
    void defaultsByUser_data();
    void defaultsByUser();
    void loadLicence_data();
    void loadLicence();
    void licenceLinkKeepsText_data();
    void licenceLinkKeepsText();
    void keyboard_data();
    void keyboard();
    void tabOrderTopToBottom_data();
    void tabOrderTopToBottom();
    void textsFit_data();
    void textsFit();

private:
    QTemporaryDir temp;
};

void tst_InstallerWizard::initTestCase()
{
    WizardDriver::quietPlatformWarnings();
}

void tst_InstallerWizard::init()
{
    InstallerWizard::setUserIdSource(&rootId);
    QVERIFY(temp.isValid());
    QVERIFY(WizardDriver::makeTree(temp.path()));
}

void tst_InstallerWizard::cleanup()
{
    InstallerWizard::setUserIdSource(nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::topLevelWidgets().isEmpty(), 5000);
}

void tst_InstallerWizard::buttonsByPage_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("pageName");
    QTest::addColumn<bool>("backEnabled");
    QTest::addColumn<bool>("commit");
    QTest::addColumn<bool>("forwardEnabled");

    QTest::newRow("welcome") << 0 << "welcomePage" << false << false << true;
    QTest::newRow("licence, nothing chosen") << 1 << "licencePage" << true << false << false;
    QTest::newRow("install type") << 2 << "installTypePage" << true << false << true;
    QTest::newRow("destination") << 3 << "destinationPage" << true << false << true;
    QTest::newRow("ready") << 4 << "readyPage" << true << true << true;
    QTest::newRow("install") << 5 << "installPage" << false << true << false;
}

void tst_InstallerWizard::buttonsByPage()
{
    QFETCH(int, page);
    QFETCH(QString, pageName);
    QFETCH(bool, backEnabled);
    QFETCH(bool, commit);
    QFETCH(bool, forwardEnabled);

    QTemporaryDir target;
    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(temp.path()));
    wizard.setDestination(target.path() + QStringLiteral("/zarvo"));
    wizard.show();
    if (page == 1) {
        wizard.next();
    } else {
        QVERIFY2(WizardDriver::goTo(wizard, page), qPrintable(QString::number(wizard.currentId())));
    }
    QCOMPARE(wizard.currentId(), page);
    QCOMPARE(wizard.currentPage()->objectName(), pageName);

    QAbstractButton *back = button(wizard, QWizard::BackButton);
    QAbstractButton *next = button(wizard, QWizard::NextButton);
    QAbstractButton *commitButton = button(wizard, QWizard::CommitButton);
    QAbstractButton *cancel = button(wizard, QWizard::CancelButton);
    QAbstractButton *finish = button(wizard, QWizard::FinishButton);

    QVERIFY(back->isVisible());
    QCOMPARE(back->isEnabled(), backEnabled);
    QAbstractButton *forward = commit ? commitButton : next;
    QVERIFY(forward->isVisible());
    QCOMPARE((commit ? next : commitButton)->isVisible(), false);
    QCOMPARE(forward->isEnabled(), forwardEnabled);
    if (commit)
        QCOMPARE(commitButton->text(), QStringLiteral("Install"));
    QVERIFY(cancel->isVisible() && cancel->isEnabled());
    QVERIFY(!finish->isVisible());

    if (page != 5) {
        // Cancel closes the wizard before the installation starts.
        cancel->click();
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Rejected));
    }
}

void tst_InstallerWizard::productNameInTexts()
{
    InstallerWizard::setUserIdSource(&userId);
    InstallerWizard wizard;
    const QString name = QStringLiteral("Corvane Zarvo");
    auto check = [&](const char *when) {
        QCOMPARE(wizard.windowTitle(), name + QStringLiteral(" Installer"));
        QCOMPARE(wizard.page(0)->title(), QStringLiteral("Welcome to the Corvane Zarvo Installer"));
        QCOMPARE(part<QLabel>(wizard, "label_6")->text(), QStringLiteral("The Corvane Zarvo Installer is ready."));
        for (const char *label : {"label", "label_3", "label_4", "label_6", "label_11", "finishTextLabel"}) {
            const QString text = part<QLabel>(wizard, label)->text();
            QVERIFY2(text.contains(name) && !text.contains(QLatin1String("%1")),
                     qPrintable(QStringLiteral("%1 %2: %3").arg(QLatin1String(when), QLatin1String(label), text)));
        }
        QVERIFY(part<QLabel>(wizard, "finishTextLabel")->text().contains(QLatin1String("%2")));
        QCOMPARE(part<QRadioButton>(wizard, "allUsersRadioButton")->text(),
                 QStringLiteral("&All Users (must be root)"));
        QCOMPARE(wizard.page(4)->buttonText(QWizard::CommitButton), QStringLiteral("Install"));
    };
    check("after construction");
    // What the user entered and the last status stay; every text is looked
    // up under the wizard's own name.
    auto *edit = part<QLineEdit>(wizard, "destLineEdit");
    auto *status = part<QLabel>(wizard, "statusTextLabel");
    edit->setText(QStringLiteral("/srv/my tools"));
    status->setText(QStringLiteral("Copying files"));
    ContextRecorder translator;
    QCoreApplication::installTranslator(&translator);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    QCoreApplication::removeTranslator(&translator);
    check("after a language change");
    QCOMPARE(edit->text(), QStringLiteral("/srv/my tools"));
    QCOMPARE(status->text(), QStringLiteral("Copying files"));
    QCOMPARE(part<QLabel>(wizard, "directoryAdviceLabel")->text(),
             QStringLiteral("Note: this directory path must not contain whitespace."));
    QVERIFY2(translator.asked.contains(QStringLiteral("InstallerWizard"), QStringLiteral("Install Type")),
             qPrintable(translator.asked.uniqueKeys().join(QLatin1Char(' '))));
}

void tst_InstallerWizard::licenceGatesNext()
{
    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(temp.path()));
    wizard.show();
    wizard.next();
    QCOMPARE(wizard.currentId(), 1);
    QAbstractButton *next = button(wizard, QWizard::NextButton);
    auto *agree = part<QRadioButton>(wizard, "acceptRadioButton");
    auto *decline = part<QRadioButton>(wizard, "radioButton_2");
    QVERIFY(!agree->isChecked() && !decline->isChecked());
    QVERIFY(!next->isEnabled());

    agree->click();
    QVERIFY(next->isEnabled());
    next->click();
    next->click();
    QCOMPARE(wizard.currentId(), 3);
    wizard.back();
    wizard.back();
    QCOMPARE(wizard.currentId(), 1);
    QVERIFY2(next->isEnabled(), "coming back, Next must follow the accepted licence");
    QVERIFY(agree->isChecked());

    decline->click();
    QVERIFY(!next->isEnabled());
    QVERIFY(wizard.isVisible());
    next->click();
    QCOMPARE(wizard.currentId(), 1);

    // Declined, forward is impossible even after a visit to the welcome page.
    wizard.back();
    wizard.next();
    QVERIFY(!next->isEnabled());
}

void tst_InstallerWizard::destinationRule_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("valid");

    QTest::newRow("absolute path") << "/opt/tools" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("a blank inside") << "/opt/my tools" << false;
    QTest::newRow("only a blank") << " " << false;
    QTest::newRow("a tab") << "/opt/my\ttools" << false;
    QTest::newRow("leading blank") << " /opt/tools" << false;
    QTest::newRow("trailing line feed") << "/opt/tools\n" << false;
    QTest::newRow("carriage return") << "/opt/to\rols" << false;
    QTest::newRow("no-break space") << QStringLiteral("/opt/my\u00a0tools") << true;
    QTest::newRow("relative word") << "tools" << true;
    QTest::newRow("markup characters") << "/opt/<b>&amp;" << true;
    QTest::newRow("a name of 256 bytes") << QStringLiteral("/opt/") + QString(256, QLatin1Char('n')) << false;
    const QString longest = QStringLiteral("/opt/%1").arg(QStringLiteral("/n").repeated(2045));
    QTest::newRow("a path of 4095 bytes") << longest << true;
    QTest::newRow("a path of 4096 bytes") << longest + QLatin1Char('n') << false;
    QTest::newRow("a path of 40 KB, kept whole") << longest.repeated(10) << false;
    QTest::newRow("relative word, working directory gone") << "<gone>tools" << false;
}

void tst_InstallerWizard::destinationRule()
{
    QFETCH(QString, destination);
    QFETCH(bool, valid);
    QTemporaryDir gone;
    const QString savedDir = QDir::currentPath();
    const auto restore = qScopeGuard([&] { QDir::setCurrent(savedDir); });
    if (destination.startsWith(QLatin1String("<gone>"))) {
        destination.remove(0, 6);
        QVERIFY(QDir::setCurrent(gone.path()) && QDir().rmdir(gone.path()));
    }

    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(temp.path()));
    wizard.show();
    QVERIFY(WizardDriver::goTo(wizard, 3));
    auto *edit = part<QLineEdit>(wizard, "destLineEdit");
    auto *note = part<QLabel>(wizard, "directoryAdviceLabel");
    QAbstractButton *next = button(wizard, QWizard::NextButton);
    QVERIFY(next->isEnabled());
    QVERIFY(!note->isVisible());

    wizard.setDestination(destination);
    QCOMPARE(edit->text(), destination);
    QCOMPARE(next->isEnabled(), valid);
    QCOMPARE(note->isVisible(), !valid);
    // Each reason has a note of its own.
    if (!valid)
        QCOMPARE(note->text().contains(QLatin1String("whitespace")),
                 destination.size() < 256 && QFileInfo::exists(gone.path()));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(note->palette().color(group, note->foregroundRole()), QColor(Qt::red));
    // A screen reader announces the note as it appears and reads it with the field.
    QCOMPARE(QAccessible::queryAccessibleInterface(note)->role(), QAccessible::Notification);
    QCOMPARE(heard(edit, QAccessible::Description),
             valid ? part<QLabel>(wizard, "label_5")->text() : note->text());

    // The same when the user types it (control characters cannot be typed,
    // long paths are pasted).
    edit->clear();
    QVERIFY(!next->isEnabled());
    QVERIFY(note->isVisible());
    const bool typeable = destination.size() < 256 && std::none_of(destination.begin(), destination.end(),
                                       [](QChar c) { return c.unicode() < 0x20; });
    if (typeable) {
        QTest::keyClicks(edit, destination);
        QCOMPARE(edit->text(), destination);
        QCOMPARE(next->isEnabled(), valid);
        QCOMPARE(note->isVisible(), !valid);
    } else {
        wizard.setDestination(destination);
    }

    // Leaving and coming back shows the page as the text is.
    wizard.back();
    wizard.next();
    QCOMPARE(wizard.currentId(), 3);
    QCOMPARE(next->isEnabled(), valid);
    QCOMPARE(note->isVisible(), !valid);
    next->click();
    QCOMPARE(wizard.currentId(), valid ? 4 : 3);
}

void tst_InstallerWizard::moduleTreeRule_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("tree");
    QTest::addColumn<bool>("valid");

    QTest::newRow("not ticked, nothing typed") << false << "" << true;
    QTest::newRow("ticked, nothing typed") << true << "" << false;
    QTest::newRow("ticked, a tree that does not exist") << true << "@/none" << false;
    QTest::newRow("ticked, a file") << true << "@/bin/pesk" << false;
    QTest::newRow("ticked, an existing tree") << true << "@" << true;
}

void tst_InstallerWizard::moduleTreeRule()
{
    QFETCH(bool, ticked);
    QFETCH(QString, tree);
    QFETCH(bool, valid);

    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(temp.path()));
    wizard.show();
    QVERIFY(WizardDriver::goTo(wizard, 2));
    part<QCheckBox>(wizard, "moduleTreeCheckBox")->setChecked(ticked);
    part<QLineEdit>(wizard, "moduleTreeLineEdit")->setText(tree.replace(QLatin1Char('@'), temp.path()));
    QCOMPARE(part<QLineEdit>(wizard, "moduleTreeLineEdit")->isEnabled(), ticked);
    // Leaving and coming back shows the page as the choice is.
    for (int visit = 0; visit < 2; ++visit, wizard.back(), wizard.next()) {
        QCOMPARE(button(wizard, QWizard::NextButton)->isEnabled(), valid);
        QCOMPARE(part<QLabel>(wizard, "moduleTreeAdviceLabel")->isVisible(), !valid);
    }
    auto *note = part<QLabel>(wizard, "moduleTreeAdviceLabel");
    QCOMPARE(QAccessible::queryAccessibleInterface(note)->role(), QAccessible::Notification);
    QCOMPARE(heard(part<QLineEdit>(wizard, "moduleTreeLineEdit"), QAccessible::Description),
             valid ? part<QLineEdit>(wizard, "moduleTreeLineEdit")->placeholderText() : note->text());
}

void tst_InstallerWizard::defaultsByUser_data()
{
    QTest::addColumn<bool>("root");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("valid");

    QTest::newRow("root") << true << "" << QString() << "/opt/corvane/zarvo/25.1.3" << true;
    QTest::newRow("root with a preset") << true << "" << "/srv/zarvo" << "/srv/zarvo" << true;
    QTest::newRow("ordinary user") << false << "/home/ada" << QString()
                                   << "/home/ada/corvane/zarvo/25.1.3" << true;
    QTest::newRow("user whose home has a blank")
        << false << "/home/ada lovelace" << QString() << "/home/ada lovelace/corvane/zarvo/25.1.3"
        << false;
    QTest::newRow("user with an empty preset") << false << "/home/ada" << "" << "" << false;
    QTest::newRow("user whose home is the root directory")
        << false << "/" << QString() << "/corvane/zarvo/25.1.3" << true;
}

void tst_InstallerWizard::defaultsByUser()
{
    QFETCH(bool, root);
    QFETCH(QString, home);
    QFETCH(QString, preset);
    QFETCH(QString, expected);
    QFETCH(bool, valid);

    const QByteArray savedHome = qgetenv("HOME");
    if (!home.isEmpty())
        qputenv("HOME", home.toLocal8Bit());
    InstallerWizard::setUserIdSource(root ? &rootId : &userId);
    InstallerWizard wizard;
    qputenv("HOME", savedHome);
    QVERIFY(wizard.loadLicence(temp.path()));
    if (!preset.isNull())
        wizard.setDestination(preset);
    wizard.show();

    auto *allUsers = part<QRadioButton>(wizard, "allUsersRadioButton");
    auto *justMe = part<QRadioButton>(wizard, "justForMeRadioButton");
    QCOMPARE(part<QLineEdit>(wizard, "destLineEdit")->text(), expected);
    QCOMPARE(allUsers->isChecked(), root);
    QCOMPARE(justMe->isChecked(), !root);
    QCOMPARE(allUsers->isEnabled(), root);
    QCOMPARE(allUsers->text(), root ? QStringLiteral("&All Users") : QStringLiteral("&All Users (must be root)"));
    QVERIFY(justMe->isEnabled());

    QVERIFY(WizardDriver::goTo(wizard, 2));
    if (root) {
        justMe->click();
        QVERIFY(justMe->isChecked() && !allUsers->isChecked());
        allUsers->click();
        QVERIFY(allUsers->isChecked());
    } else {
        allUsers->click();
        QVERIFY2(!allUsers->isChecked(), "only root can install for all users");
    }
    button(wizard, QWizard::NextButton)->click();
    QCOMPARE(wizard.currentId(), 3);
    QCOMPARE(button(wizard, QWizard::NextButton)->isEnabled(), valid);
    QCOMPARE(part<QLabel>(wizard, "directoryAdviceLabel")->isVisible(), !valid);
}

void tst_InstallerWizard::loadLicence_data()
{
    QTest::addColumn<QByteArray>("licence");
    QTest::addColumn<QByteArray>("supplementary");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("shown");

    const QByteArray missing; // a null array: no file at all
    QTest::newRow("both files") << QByteArray("Licence text.") << QByteArray("Extra terms.") << true
                                << "Licence text.\n\nExtra terms.";
    QTest::newRow("licence missing") << missing << QByteArray("Extra terms.") << false << "";
    QTest::newRow("supplementary missing") << QByteArray("Licence text.") << missing << false << "";
    QTest::newRow("both missing") << missing << missing << false << "";
    QTest::newRow("empty supplementary") << QByteArray("Licence text.") << QByteArray("") << true
                                         << "Licence text.\n\n";
    QTest::newRow("licence in HTML")
        << QByteArray("<html><body><h1>Licence</h1><p>You <b>may</b> use it.</p></body></html>")
        << QByteArray("") << true << "Licence\nYou may use it. ";
    QTest::newRow("plain text with angle brackets")
        << QByteArray("Use with care: 1 < 2 and a->b.") << QByteArray("More.") << true
        << "Use with care: 1 < 2 and a->b.\n\nMore.";
    QTest::newRow("licence unreadable (a directory)") << QByteArray("<dir>") << QByteArray("More.")
                                                      << true << "";
}

void tst_InstallerWizard::loadLicence()
{
    QFETCH(QByteArray, licence);
    QFETCH(QByteArray, supplementary);
    QFETCH(bool, loaded);
    QFETCH(QString, shown);

    QTemporaryDir source;
    const QString terms = source.path() + QStringLiteral("/license_terms");
    QVERIFY(QDir().mkpath(terms));
    if (licence == "<dir>")
        QVERIFY(QDir().mkpath(terms + QStringLiteral("/license_agreement.txt")));
    else if (!licence.isNull())
        QVERIFY(WizardDriver::writeFile(terms + QStringLiteral("/license_agreement.txt"), licence));
    if (!supplementary.isNull())
        QVERIFY(WizardDriver::writeFile(terms + QStringLiteral("/supplementary_terms.txt"), supplementary));

    InstallerWizard wizard;
    QCOMPARE(wizard.loadLicence(source.path()), loaded);
    auto *browser = part<QTextBrowser>(wizard, "licenceTextBrowser");
    QCOMPARE(browser->toPlainText(), shown);
    QVERIFY(browser->isReadOnly());
    if (licence.startsWith("<html>"))
        QVERIFY2(browser->toHtml().contains(QLatin1String("font-weight")), "HTML shown formatted");
}

void tst_InstallerWizard::licenceLinkKeepsText_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("handedOver"); // to the desktop's handler

    QTest::newRow("web page") << "https://corvane.example/licence" << true;
    QTest::newRow("plain web page") << "http://corvane.example/licence" << true;
    QTest::newRow("e-mail address") << "mailto:licensing@corvane.example" << true;
    QTest::newRow("relative link") << "terms.html" << false;
    QTest::newRow("link within the text") << "#section-2" << false;
    QTest::newRow("local file") << "file:///etc/hostname" << false;
    QTest::newRow("other scheme") << "ftp://corvane.example/licence" << false;
}

void tst_InstallerWizard::licenceLinkKeepsText()
{
    QFETCH(QString, target);
    QFETCH(bool, handedOver);
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        QSKIP("the click would open the desktop's own browser or mail program");
    // Stands in for the desktop's handlers.
    LinkRecorder handler;
    for (const char *scheme : {"http", "https", "mailto", "file", "ftp"})
        QDesktopServices::setUrlHandler(QLatin1String(scheme), &handler, "open");
    const auto restore = qScopeGuard([] {
        for (const char *scheme : {"http", "https", "mailto", "file", "ftp"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    });

    QTemporaryDir source;
    const QString terms = source.path() + QStringLiteral("/license_terms/");
    QVERIFY(WizardDriver::writeFile(
        terms + QStringLiteral("license_agreement.txt"),
        QStringLiteral("<html><body><p>Read the terms at <a href=\"%1\">our site</a>.</p></body></html>")
            .arg(target).toUtf8()));
    QVERIFY(WizardDriver::writeFile(terms + QStringLiteral("supplementary_terms.txt"), ""));
    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(source.path()));
    wizard.show();
    wizard.next();
    auto *browser = part<QTextBrowser>(wizard, "licenceTextBrowser");
    const QString before = browser->toPlainText();
    QVERIFY(before.contains(QLatin1String("our site")));

    // Click the middle of the link text.
    QTextCursor cursor = browser->document()->find(QStringLiteral("our site"));
    QVERIFY(!cursor.isNull());
    cursor.setPosition(cursor.selectionStart() + 3);
    const QPoint at = browser->cursorRect(cursor).center();
    QCOMPARE(browser->anchorAt(at), target);
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(browser->toPlainText(), before);
    QCOMPARE(handler.opened, handedOver ? QList<QUrl>{QUrl(target)} : QList<QUrl>());
}

void tst_InstallerWizard::keyboard_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("checked");
    QTest::addColumn<int>("pageAfter");

    QTest::newRow("Alt+A agrees to the licence") << 1 << int(Qt::Key_A) << "acceptRadioButton" << 1;
    QTest::newRow("Alt+D declines the licence") << 1 << int(Qt::Key_D) << "radioButton_2" << 1;
    QTest::newRow("Alt+J chooses just for me") << 2 << int(Qt::Key_J) << "justForMeRadioButton" << 2;
    QTest::newRow("Alt+A on the install type chooses all users")
        << 2 << int(Qt::Key_A) << "allUsersRadioButton" << 2;
    QTest::newRow("Alt+B goes back from the destination") << 3 << int(Qt::Key_B) << "" << 2;
    QTest::newRow("Alt+N goes on from the welcome page") << 0 << int(Qt::Key_N) << "" << 1;
    QTest::newRow("Enter goes on from the welcome page") << 0 << int(Qt::Key_Return) << "" << 1;
    QTest::newRow("Enter goes on from the destination page") << 3 << int(Qt::Key_Return) << "" << 4;
}

void tst_InstallerWizard::keyboard()
{
    QFETCH(int, page);
    QFETCH(int, key);
    QFETCH(QString, checked);
    QFETCH(int, pageAfter);

    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(temp.path()));
    wizard.show();
    QApplication::setActiveWindow(&wizard);
    QVERIFY(QTest::qWaitForWindowActive(&wizard, 5000));
    QVERIFY(WizardDriver::goTo(wizard, page));
    if (page == 1) {
        // Start from the other choice, so that the key has something to change.
        wizard.back();
        part<QRadioButton>(wizard, checked == QLatin1String("radioButton_2") ? "acceptRadioButton"
                                                                             : "radioButton_2")
            ->setChecked(true);
        wizard.next();
    }
    if (page == 2)
        part<QRadioButton>(wizard, checked == QLatin1String("allUsersRadioButton") ? "justForMeRadioButton"
                                                                                    : "allUsersRadioButton")
            ->setChecked(true);

    QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : &wizard;
    if (key == Qt::Key_Return)
        QTest::keyClick(focus, Qt::Key_Return);
    else
        QTest::keyClick(focus, Qt::Key(key), Qt::AltModifier);

    if (!checked.isEmpty()) {
        // A mnemonic clicks its button with a short animation.
        auto *radio = part<QRadioButton>(wizard, checked.toLatin1().constData());
        QTRY_VERIFY2_WITH_TIMEOUT(radio->isChecked(), qPrintable(checked + QStringLiteral(" not checked")), 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(wizard.currentId(), pageAfter, 5000);
    if (page == 1)
        QCOMPARE(button(wizard, QWizard::NextButton)->isEnabled(), checked == QLatin1String("acceptRadioButton"));
}

void tst_InstallerWizard::tabOrderTopToBottom_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("licence") << 1
                             << QStringList{"licenceTextBrowser", "acceptRadioButton", "radioButton_2"};
    QTest::newRow("install type") << 2 << QStringList{"allUsersRadioButton", "justForMeRadioButton",
                                                      "moduleTreeCheckBox", "moduleTreeLineEdit"};
    QTest::newRow("destination") << 3 << QStringList{"destLineEdit", "pushButton"};
    QTest::newRow("finished") << 102 << QStringList{"releaseNotesCheckBox"};
}

void tst_InstallerWizard::tabOrderTopToBottom()
{
    QFETCH(int, page);
    QFETCH(QStringList, order);

    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(temp.path()));
    if (page == InstallerWizard::FinishPageId)
        wizard.setStartId(page);
    wizard.show();
    QVERIFY(WizardDriver::goTo(wizard, page));
    QWizardPage *current = wizard.currentPage();
    // A screen reader names the page a stop lies on by its title.
    QCOMPARE(heard(current, QAccessible::Name), current->title());
    QVERIFY(!heard(current, QAccessible::Description).isEmpty());

    // Walk the focus chain of the page as Tab would, and compare with the
    // order on screen; each stop is named and described.
    QStringList chain;
    int lastY = -1;
    QWidget *start = current->findChild<QWidget *>(order.first());
    QWidget *w = start;
    do {
        if (current->isAncestorOf(w) && w->isVisibleTo(current) && (w->focusPolicy() & Qt::TabFocus)) {
            chain << w->objectName();
            QVERIFY2(!heard(w, QAccessible::Name).isEmpty() && !heard(w, QAccessible::Description).isEmpty(),
                     qPrintable(w->objectName() + QStringLiteral(" is not named and described")));
            const int y = w->mapTo(current, QPoint(0, 0)).y();
            QVERIFY2(y >= lastY, qPrintable(w->objectName() + QStringLiteral(" is above its predecessor")));
            lastY = y;
        }
        w = w->nextInFocusChain();
    } while (w && w != start);
    QCOMPARE(chain, order);
}

void tst_InstallerWizard::textsFit_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("points"); // the application font's size

    const QString deep = QStringLiteral("/home/ada/clusters/production/tools/corvane/zarvo/25.1.3/lib/internal/plugins/platforms");
    const QString longNames = QStringLiteral("/opt/%1/%1").arg(QString(255, QLatin1Char('n')));
    const QString longest = QStringLiteral("/opt/%1").arg(QStringLiteral("/n").repeated(2045));
    for (int points : {9, 18}) {
        const QString font = points == 9 ? QString() : QStringLiteral(", double font");
        for (int id : {0, 1, 2, 3, 4, 5, 100, 101, 102})
            QTest::newRow(qPrintable(QStringLiteral("page %1%2").arg(id).arg(font))) << id << deep << points;
        QTest::newRow(qPrintable("page 5, names of 255 characters" + font)) << 5 << longNames << points;
        QTest::newRow(qPrintable("page 102, names of 255 characters" + font)) << 102 << longNames << points;
        QTest::newRow(qPrintable("page 5, a path of 4095 bytes" + font)) << 5 << longest << points;
        QTest::newRow(qPrintable("page 102, a path of 4095 bytes" + font)) << 102 << longest << points;
    }
}

void tst_InstallerWizard::textsFit()
{
    QFETCH(int, page);
    QFETCH(QString, destination);
    QFETCH(int, points);

    const QFont normal = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(normal); });
    QApplication::setFont(QFont(normal.family(), points));
    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(temp.path()));
    // Shows the page with the longest texts it can have: the note, a status
    // line and a finish text naming the destination, given as the
    // installation gives them.
    wizard.setDestination(QString());
    wizard.setStartId(page);
    wizard.show();
    QCOMPARE(wizard.currentId(), page);
    if (page == 5) {
        emit wizard.findChild<Installer *>()->status(
            QStringLiteral("Copying \"libqxcb.so\" to \"%1\"").arg(destination));
    } else if (page == InstallerWizard::FinishPageId) {
        auto *finishText = part<QLabel>(wizard, "finishTextLabel");
        finishText->setText(finishText->text().arg(breakableAnywhere(destination).toHtmlEscaped()));
    }
    // Lay the page out again, without letting the installation's reports in.
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    // The form's size at the usual font; larger at a larger one, within the screen.
    if (points == 9)
        QCOMPARE(wizard.size(), QSize(650, 450));
    else
        QVERIFY(wizard.width() > 650 && wizard.height() > 450
                && wizard.screen()->availableGeometry().contains(wizard.frameGeometry()));
    if (page == 0)
        QVERIFY(!wizard.page(0)->pixmap(QWizard::WatermarkPixmap).isNull()
                || QPixmap(QStringLiteral(":/banner-zarvo.png")).isNull());

    QWizardPage *current = wizard.currentPage();
    const QRect area = current->rect();
    for (QWidget *w : current->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(current) || w->objectName() == QLatin1String("qt_scrollarea_viewport"))
            continue;
        if (!qobject_cast<QLabel *>(w) && !qobject_cast<QAbstractButton *>(w) && !qobject_cast<QLineEdit *>(w))
            continue;
        // A label that scrolls must show in its view, and the view on its page.
        auto *scroller = qobject_cast<QScrollArea *>(w->parentWidget()->parentWidget());
        QWidget *view = scroller ? scroller : w;
        const QRect geometry(view->mapTo(current, QPoint(0, 0)), view->size());
        QVERIFY2(area.contains(geometry),
                 qPrintable(QStringLiteral("%1 lies outside its page").arg(w->objectName())));
        if (scroller && scroller->viewport()->height() < w->height())
            QVERIFY2(scroller->verticalScrollBar()->isVisible(),
                     qPrintable(QStringLiteral("%1 is cut off, not scrolled").arg(w->objectName())));
        auto *label = qobject_cast<QLabel *>(w);
        if (label && label->wordWrap()) {
            QVERIFY2(w->height() >= label->heightForWidth(w->width()),
                     qPrintable(QStringLiteral("%1 is cut off at the bottom").arg(w->objectName())));
        } else if (!label || !label->text().isEmpty()) {
            QVERIFY2(w->width() >= w->sizeHint().width(),
                     qPrintable(QStringLiteral("%1 is cut off: %2 of %3 pixels")
                                    .arg(w->objectName()).arg(w->width()).arg(w->sizeHint().width())));
        }
    }
}

ZARVO_TEST_MAIN_WIDGETS(tst_InstallerWizard)
#include "tst_installerwizard.moc"
