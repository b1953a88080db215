#include "installer/desktop/fileassociation.h"
#include "installer/desktop/postinstallscript.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>

// The two one-shot files an installation may bring: the MIME package and the
// post-install script. Both are looked for at the top of the destination only.
class TestFileAssociation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void mimePackage_data();
    void mimePackage();
    void postInstallScript_data();
    void postInstallScript();
};

void TestFileAssociation::init()
{
    qunsetenv("XDG_UTILS_INSTALL_MODE");
}

void TestFileAssociation::mimePackage_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("xdgMime");
    QTest::addColumn<bool>("run");
    QTest::addColumn<bool>("remains");

    QTest::newRow("no package") << QString() << "exit 0" << false << false;
    QTest::newRow("package registered and deleted") << "lumo-mime.xml" << "exit 0" << true
                                                    << false;
    QTest::newRow("registration fails, package deleted all the same")
            << "lumo-mime.xml" << "exit 4" << true << false;
    QTest::newRow("no xdg-mime on the search path, package deleted")
            << "lumo-mime.xml" << QString() << false << false;
    QTest::newRow("package in a subdirectory only")
            << "share/lumo-mime.xml" << "exit 0" << false << true;
}

void TestFileAssociation::mimePackage()
{
    QFETCH(QString, package);
    QFETCH(QString, xdgMime);
    QFETCH(bool, run);
    QFETCH(bool, remains);

    FakeInstallation inst;
    const QString packagePath = inst.dir() + QLatin1Char('/') + package;
    if (!package.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(packagePath).path()));
        QVERIFY(TestEnvironment::writeScript(packagePath, "<mime-info/>\n"));
    }
    if (!xdgMime.isNull())
        QVERIFY(inst.addPathTool(QStringLiteral("xdg-mime"), xdgMime.toLocal8Bit()));
    QVERIFY(QDir().mkpath(inst.binDir()));
    // Without the fake the search path must not reach the system's own tool.
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(inst.binDir()));

    installFileAssociation(inst.dir());
    qputenv("PATH", oldPath);

    QCOMPARE(inst.runs(), run ? QStringList(QStringLiteral("xdg-mime|unset|install|")
                                            + inst.dir() + QStringLiteral("/lumo-mime.xml"))
                              : QStringList());
    if (!package.isEmpty())
        QCOMPARE(QFile::exists(packagePath), remains);
}

void TestFileAssociation::postInstallScript_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<bool>("run");
    QTest::addColumn<bool>("remains");

    QTest::newRow("no script") << QString() << QByteArray() << true << false << false;
    QTest::newRow("script run once and deleted")
            << "post-install.sh" << QByteArray("exit 0") << true << true << false;
    QTest::newRow("failing script deleted all the same")
            << "post-install.sh" << QByteArray("exit 7") << true << true << false;
    QTest::newRow("script without execute permission neither run nor deleted")
            << "post-install.sh" << QByteArray("exit 0") << false << false << true;
    QTest::newRow("script in a subdirectory only")
            << "bin/post-install.sh" << QByteArray("exit 0") << true << false << true;
}

void TestFileAssociation::postInstallScript()
{
    QFETCH(QString, script);
    QFETCH(QByteArray, body);
    QFETCH(bool, executable);
    QFETCH(bool, run);
    QFETCH(bool, remains);

    FakeInstallation inst;
    const QString scriptPath = inst.dir() + QLatin1Char('/') + script;
    if (!script.isEmpty()) {
        QVERIFY(inst.writeTool(scriptPath, body));
        if (!executable)
            QVERIFY(QFile::setPermissions(scriptPath, QFile::ReadOwner | QFile::WriteOwner));
    }

    runPostInstallScript(inst.dir());

    QCOMPARE(inst.runs(), run ? QStringList(QStringLiteral("post-install.sh|unset"))
                              : QStringList());
    if (!script.isEmpty())
        QCOMPARE(QFile::exists(scriptPath), remains);
}

ZARVO_TEST_MAIN_CORE(TestFileAssociation)
#include "tst_fileassociation.moc"
