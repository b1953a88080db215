#include "installer/desktop/fileassociation.h"
#include "installer/desktop/postinstallscript.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>

// The two one-shot files an installation may bring, the MIME package and the
// post-install script, looked for at the top of the destination only.
class TestFileAssociation : public QObject
{
    Q_OBJECT

private slots:
    void handOver_data();
    void handOver();
};

void TestFileAssociation::handOver_data()
{
    QTest::addColumn<bool>("script");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("executable");
    // xdg-mime's (none: not on the search path) or the script's body.
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("run");
    QTest::addColumn<bool>("remains");

    // The runs logged, then the status of each step taken.
    const QByteArray ok("exit 0");
    const QString mime = QStringLiteral("xdg-mime|unset|install|@/lumo-mime.xml\nstatus ");
    const QString script = QStringLiteral("post-install.sh|unset\nstatus ");
    QTest::newRow("no package") << false << QString() << false << ok << QString() << false;
    QTest::newRow("package registered and deleted")
            << false << "lumo-mime.xml" << false << ok << mime + "0" << false;
    QTest::newRow("registration fails, package deleted all the same") << false
            << "lumo-mime.xml" << false << QByteArray("exit 4") << mime + "4" << false;
    QTest::newRow("no xdg-mime on the search path, package deleted") << false
            << "lumo-mime.xml" << false << QByteArray() << "status -2" << false;
    QTest::newRow("package in a subdirectory only") << false
            << "share/lumo-mime.xml" << false << ok << QString() << true;
    QTest::newRow("no script") << true << QString() << true << ok << QString() << false;
    QTest::newRow("script run once and deleted")
            << true << "post-install.sh" << true << ok << script + "0" << false;
    QTest::newRow("failing script deleted all the same") << true
            << "post-install.sh" << true << QByteArray("exit 7") << script + "7" << false;
    QTest::newRow("script that reads its standard input gets its end at once") << true
            << "post-install.sh" << true << QByteArray("/usr/bin/timeout 5 /bin/cat >/dev/null")
            << script + "0" << false;
    QTest::newRow("script without execute permission neither run nor deleted") << true
            << "post-install.sh" << false << ok << QString() << true;
    QTest::newRow("script in a subdirectory only") << true
            << "bin/post-install.sh" << true << ok << QString() << true;
}

void TestFileAssociation::handOver()
{
    QFETCH(bool, script);
    QFETCH(QString, file);
    QFETCH(bool, executable);
    QFETCH(QByteArray, body);
    QFETCH(QString, run);
    QFETCH(bool, remains);

    FakeInstallation inst;
    const QString path = inst.dir() + QLatin1Char('/') + file;
    if (!file.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(inst.writeTool(path, script ? body : QByteArray("<mime-info/>")));
        if (!executable)
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    }
    // Only the fake: the system's own xdg-mime must stay out of reach.
    QVERIFY(QDir().mkpath(inst.binDir()));
    if (!script && !body.isNull())
        QVERIFY(inst.addPathTool(QStringLiteral("xdg-mime"), body));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(inst.binDir()));
    qunsetenv("XDG_UTILS_INSTALL_MODE");

    const DesktopSteps steps =
            script ? runPostInstallScript(inst.dir()) : installFileAssociation(inst.dir());
    qputenv("PATH", oldPath);

    QStringList actual = inst.runs();
    for (const DesktopStep &step : steps)
        actual << QStringLiteral("status %1").arg(step.status);
    QCOMPARE(actual.join(QLatin1Char('\n')), run.replace(QLatin1Char('@'), inst.dir()));
    if (!file.isEmpty())
        QCOMPARE(QFile::exists(path), remains);
}

ZARVO_TEST_MAIN_CORE(TestFileAssociation)
#include "tst_fileassociation.moc"
