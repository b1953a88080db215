// The text installer and the graphical wizard, given the same installation
// files, must leave the same installation behind.
#include "fixture.h"
#include "programrun.h"

#include "installer/wizard/installerwizard.h"
#include "tests/support/testenvironment.h"

#include <QApplication>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const int installTimeoutMs = 60000;
const int installPageId = 5;
const int finishPageId = 102;

QtMessageHandler previousHandler = nullptr;

// The offscreen platform warns each time a window is sized; nothing else is dropped.
void dropSizeHintWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.contains(QLatin1String("propagateSizeHints")))
        return;
    previousHandler(type, context, text);
}

} // namespace

class TestTextInstallVersusWizard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameResult_data();
    void sameResult();

private:
    // Drives the wizard from the welcome page to the finish page.
    void installWithWizard(const QString &source, const QString &destination);

    QTemporaryDir m_root;
    QString m_tree;
    QString m_archiveSource;
};

void TestTextInstallVersusWizard::initTestCase()
{
    previousHandler = qInstallMessageHandler(dropSizeHintWarnings);
    QVERIFY(m_root.isValid());
    QString why;
    m_tree = m_root.filePath(QStringLiteral("tree"));
    QVERIFY2(Fixture::writeTree(m_tree, Fixture::Plain, &why), qPrintable(why));
    m_archiveSource = m_root.filePath(QStringLiteral("packed"));
    QVERIFY2(Fixture::writeArchiveSource(m_tree, m_archiveSource, &why), qPrintable(why));
}

void TestTextInstallVersusWizard::sameResult_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("from the unpacked tree") << QStringLiteral("tree");
    QTest::newRow("from the archive") << QStringLiteral("archive");
}

void TestTextInstallVersusWizard::sameResult()
{
    QFETCH(QString, kind);
    const QString source = kind == QLatin1String("archive") ? m_archiveSource : m_tree;

    QTemporaryDir work;
    const QString byWizard = work.filePath(QStringLiteral("wizard/zarvo"));
    const QString byText = work.filePath(QStringLiteral("text/zarvo"));

    installWithWizard(source, byWizard);
    if (QTest::currentTestFailed())
        return;

    ProgramRun run(ProgramRun::Pipes, source, {QStringLiteral("--accept-licence"), byText},
                   Fixture::environment());
    QVERIFY(run.start());
    run.closeInput();
    QVERIFY2(run.finish(installTimeoutMs), "the text installation did not end");
    QVERIFY2(run.errorOutput().isEmpty(), run.errorOutput().constData());
    QCOMPARE(run.exitStatus(), 0);

    // The markers only differ in when they were written.
    const QString differences =
        Fixture::compareTrees(byWizard, byText);
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
    QVERIFY(QFileInfo(byWizard + QStringLiteral("/.installed")).isFile());
    QVERIFY(QFileInfo(byText + QStringLiteral("/.installed")).isFile());
}

void TestTextInstallVersusWizard::installWithWizard(const QString &source,
                                                    const QString &destination)
{
    InstallerWizard wizard;
    QVERIFY(wizard.loadLicence(source));
    wizard.setDestination(destination);
    wizard.show();
    auto *accept = wizard.findChild<QRadioButton *>(QStringLiteral("acceptRadioButton"));
    QVERIFY(accept);
    accept->setChecked(true);

    // No box is expected; one that comes anyway is closed rather than left to hang the test.
    QTimer boxCloser;
    QString unexpectedBox;
    connect(&boxCloser, &QTimer::timeout, &wizard, [&unexpectedBox] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            unexpectedBox = modal->windowTitle();
            modal->close();
        }
    });
    boxCloser.start(100);

    for (int step = 0; step < 10 && wizard.currentId() != installPageId; ++step) {
        const int before = wizard.currentId();
        wizard.next();
        QVERIFY2(wizard.currentId() != before,
                 qPrintable(QStringLiteral("the wizard does not leave page %1").arg(before)));
    }
    QCOMPARE(wizard.currentId(), installPageId);
    QTRY_VERIFY_WITH_TIMEOUT(wizard.currentId() == finishPageId || !unexpectedBox.isEmpty(),
                             installTimeoutMs);
    QVERIFY2(unexpectedBox.isEmpty(),
             qPrintable(QStringLiteral("the wizard showed \"%1\"").arg(unexpectedBox)));
}

ZARVO_TEST_MAIN_WIDGETS(TestTextInstallVersusWizard)
#include "tst_textinstall_versuswizard.moc"
