#include "installer/desktop/launchicons.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>

// The installation's menu entry and icons, installed by the real
// freedesktop.org tools into the temporary home, where a desktop looks.
class TestXdgTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void install_data();
    void install();

private:
    QString validate(const QString &entry);
};

void TestXdgTools::initTestCase()
{
    for (const char *tool : { "xdg-icon-resource", "xdg-desktop-menu", "desktop-file-validate" }) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    }
}

// The validator's complaints, or an empty string when it passes the entry.
QString TestXdgTools::validate(const QString &entry)
{
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(QStringLiteral("desktop-file-validate"), { entry });
    if (!validator.waitForFinished(20000)) {
        validator.kill();
        validator.waitForFinished(5000);
        return QStringLiteral("desktop-file-validate did not finish");
    }
    const QString output = QString::fromLocal8Bit(validator.readAll()).trimmed();
    if (validator.exitStatus() != QProcess::NormalExit || validator.exitCode() != 0)
        return QStringLiteral("rejected: ") + output;
    return output;
}

void TestXdgTools::install_data()
{
    QTest::addColumn<QString>("dirName");

    QTest::newRow("plain directory") << "zarvo-25.1.3";
    // The tools split their arguments at blanks; the wizard refuses blanks.
    QTest::newRow("directory with reserved characters") << "z$tools&(old)it's;x";
}

void TestXdgTools::install()
{
    QFETCH(QString, dirName);

    const QString dataHome = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    QVERIFY(dataHome.startsWith(TestEnvironment::home()));
    QDir(dataHome).removeRecursively();

    qputenv("KDE_FULL_SESSION", "true");
    FakeInstallation inst;
    inst.setDirName(dirName);
    QVERIFY(inst.addIcons());
    for (const char *tool : { "xdg-icon-resource", "xdg-desktop-menu" }) {
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QLatin1String(tool)),
                            inst.dir() + QStringLiteral("/libexec/") + QLatin1String(tool)));
    }
    const QString oldCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(inst.tmpPath()));

    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);
    installLaunchIcons(installer, inst.dir(), inst.dir() + QStringLiteral("/bin"));
    QDir::setCurrent(oldCurrent);

    QStringList shown;
    for (const RecordingPrompt::Box &box : qAsConst(prompt.boxes))
        shown << box.title + QStringLiteral(": ") + box.text;
    QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char('\n'))));

    for (const int size : FakeInstallation::iconSizes()) {
        const QString installed =
                dataHome + QStringLiteral("/icons/hicolor/%1x%1/apps/corvane-zarvo.png").arg(size);
        QFile icon(installed);
        QVERIFY2(icon.open(QIODevice::ReadOnly), qPrintable(installed + " is missing"));
        QFile shipped(inst.dir() + QStringLiteral("/icons/%1x%1/corvane-zarvo.png").arg(size));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QCOMPARE(icon.readAll(), shipped.readAll());
    }

    const QString menuEntry = dataHome + QStringLiteral("/applications/corvane-zarvo.desktop");
    QFile entry(menuEntry);
    QVERIFY2(entry.open(QIODevice::ReadOnly), qPrintable(menuEntry + " is missing"));
    const QByteArray text = entry.readAll();
    QVERIFY2(text.contains("\nName=Corvane Zarvo 25.1.3\n"), text);
    QVERIFY2(text.contains("\nTryExec=" + QFile::encodeName(inst.dir())
                           + "/bin/corvane-zarvo\n"), text);
    QVERIFY2(text.contains(QFile::encodeName(inst.dir()) + "/bin/corvane-zarvo"), text);

    for (const QString &path : { inst.entryPath(), menuEntry }) {
        const QString complaints = validate(path);
        QVERIFY2(complaints.isEmpty(), qPrintable(path + QStringLiteral(": ") + complaints));
    }
    // The per-user mode kept the entry out of the system's menu, even for root.
    QVERIFY(!QFile::exists(QStringLiteral("/usr/share/applications/corvane-zarvo.desktop")));
}

ZARVO_TEST_MAIN_CORE(TestXdgTools)
#include "tst_xdgtools.moc"
