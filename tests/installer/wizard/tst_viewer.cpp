#include "installer/wizard/viewer.h"
#include "tests/installer/wizard/wizarddriver.h"
#include "tests/support/testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QScreen>
#include <QTextBrowser>

#include <sys/stat.h>

class tst_Viewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { WizardDriver::quietPlatformWarnings(); }
    void shows_data();
    void shows();
    void deletesItselfWhenClosed();
};

void tst_Viewer::shows_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("shown");

    QTest::newRow("release notes") << "RELEASE-NOTES" << QByteArray("Zarvo 25.1.3\n\n * faster\n")
                                   << "Zarvo 25.1.3\n\n * faster\n";
    QTest::newRow("markup shown as written")
        << "RELEASE-NOTES" << QByteArray("<html><b>bold</b> & <i>more</i></html>\n")
        << "<html><b>bold</b> & <i>more</i></html>\n";
    QTest::newRow("UTF-8 text") << "notes.txt" << QByteArray("Gr\xc3\xbc\xc3\x9f" "e\n")
                                << QStringLiteral("Gr\u00fc\u00dfe\n");
    QTest::newRow("empty file") << "RELEASE-NOTES" << QByteArray("") << "";
    QTest::newRow("file missing") << "RELEASE-NOTES" << QByteArray() << "";
    // Only a regular file is read: a device never ends, a pipe waits for a writer.
    QTest::newRow("link to a device") << "RELEASE-NOTES" << QByteArray("-> /dev/zero") << "";
    QTest::newRow("named pipe") << "RELEASE-NOTES" << QByteArray("<fifo>") << "";
    // Lines of 64 bytes, one more than is shown; only whole lines are shown.
    const QByteArray line = QByteArray(63, 'n') + '\n';
    QTest::newRow("longer than is shown")
        << "RELEASE-NOTES" << line.repeated(Viewer::shownBytes / line.size() + 1)
        << QString::fromLatin1(line.repeated(Viewer::shownBytes / line.size()))
               + QStringLiteral("\n[Only the first 4 MB of this file are shown; the rest is left "
                                "out. The whole text is in \"%1\".]");
}

void tst_Viewer::shows()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, shown);

    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/doc/") + name;
    QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/doc")));
    if (content.startsWith("-> "))
        QVERIFY(QFile::link(QString::fromLatin1(content.mid(3)), path));
    else if (content == "<fifo>")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (!content.isNull())
        QVERIFY(WizardDriver::writeFile(path, content));
    shown.replace(QLatin1String("%1"), path);

    QPointer<Viewer> viewer = new Viewer(path);
    viewer->show();
    QCOMPARE(viewer->windowTitle(), name);
    auto *browser = viewer->findChild<QTextBrowser *>();
    QVERIFY(browser);
    QCOMPARE(viewer->centralWidget(), browser);
    // Read a piece at a time while the window answers.
    QTRY_COMPARE_WITH_TIMEOUT(browser->toPlainText(), shown, 10000);
    QVERIFY(browser->isReadOnly());
    QCOMPARE(QApplication::focusWidget() ? QApplication::focusWidget() : browser->focusWidget(),
             static_cast<QWidget *>(browser));
    QVERIFY2(viewer->width() > 3 * viewer->height() / 4,
             "the window is shaped for lines of text, about as wide as forty lines are high");
    const QSize screen = viewer->screen()->availableGeometry().size();
    QVERIFY2(viewer->width() <= screen.width() && viewer->height() <= screen.height(),
             "the window fits the screen");
    viewer->close();
    QTRY_VERIFY_WITH_TIMEOUT(viewer.isNull(), 5000);
}

void tst_Viewer::deletesItselfWhenClosed()
{
    QTemporaryDir dir;
    QPointer<Viewer> viewer = new Viewer(dir.path() + QStringLiteral("/RELEASE-NOTES"));
    viewer->show();
    QVERIFY(viewer->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(viewer->isWindow());
    QVERIFY(viewer->close());
    QTRY_VERIFY_WITH_TIMEOUT(viewer.isNull(), 5000);
}

ZARVO_TEST_MAIN_WIDGETS(tst_Viewer)
#include "tst_viewer.moc"
