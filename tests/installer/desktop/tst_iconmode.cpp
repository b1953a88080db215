#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/support/testenvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QHash>

// The real program, copied into a fake installation and started with -icon
// under the test display, registers that installation.
class TestIconMode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void iconMode_data();
    void iconMode();

private:
    static QString xdotool(const QStringList &arguments);
    bool runProgram(const FakeInstallation &inst, const QString &workDir, QStringList *boxes,
                    QString *why);
};

void TestIconMode::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display (scripts/test starts Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs xdotool to answer the message boxes");
}

QString TestIconMode::xdotool(const QStringList &arguments)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(5000)) {
        tool.kill();
        tool.waitForFinished(5000);
        return QString();
    }
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

// Runs "installer -icon" from workDir and answers every box it shows (with
// its title added to boxes). False, with the reason, unless it ended with 0.
bool TestIconMode::runProgram(const FakeInstallation &inst, const QString &workDir,
                              QStringList *boxes, QString *why)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workDir);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(inst.dir() + QStringLiteral("/bin/installer"), { QStringLiteral("-icon") });
    if (!program.waitForStarted(10000)) {
        *why = QStringLiteral("did not start: ") + program.errorString();
        return false;
    }

    // A key may arrive before the box is ready for it: press again while the
    // box stays open.
    QHash<QString, QDeadlineTimer> answered;
    // A hang detector, generous for a loaded machine and the sanitizer build.
    QDeadlineTimer deadline(120000);
    while (!program.waitForFinished(100)) {
        if (deadline.hasExpired()) {
            program.kill();
            program.waitForFinished(5000);
            *why = QStringLiteral("still running after 120 s; boxes so far: ")
                    + boxes->join(QStringLiteral(", "));
            return false;
        }
        const QString found = xdotool({ QStringLiteral("search"), QStringLiteral("--all"),
                                        QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--pid"), QString::number(program.processId()),
                                        QStringLiteral("--name"), QStringLiteral(".") });
        for (const QString &window : found.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (!answered.contains(window))
                boxes->append(xdotool({ QStringLiteral("getwindowname"), window }));
            else if (!answered.value(window).hasExpired())
                continue;
            answered.insert(window, QDeadlineTimer(500));
            // Sent to the box itself: the focus, which other programs on the
            // same display may be using, stays where it is.
            xdotool({ QStringLiteral("key"), QStringLiteral("--window"), window,
                      QStringLiteral("Return") });
            // The box closes on the press; a key left held down would
            // auto-repeat into every later box on this display.
            xdotool({ QStringLiteral("keyup"), QStringLiteral("Return") });
        }
    }
    if (program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0) {
        *why = QStringLiteral("ended with status %1").arg(program.exitCode());
        return false;
    }
    return true;
}

void TestIconMode::iconMode_data()
{
    QTest::addColumn<bool>("session");
    QTest::addColumn<bool>("withEntry");
    QTest::addColumn<bool>("withTools");
    QTest::addColumn<QByteArray>("iconTool");
    QTest::addColumn<bool>("makefile");
    QTest::addColumn<int>("runsEach");
    QTest::addColumn<QStringList>("boxes");

    const QByteArray ok("exit 0");
    QTest::newRow("icons and menu entry registered")
            << true << true << true << ok << false << 5 << QStringList();
    QTest::newRow("no desktop session, entry still rewritten")
            << false << true << true << ok << false << 0 << QStringList();
    QTest::newRow("installation in a build tree keeps its entry")
            << true << true << true << ok << true << 5 << QStringList();
    QTest::newRow("icon tool fails, box answered")
            << true << true << true << QByteArray("[ \"$3\" = 24 ] && exit 9; exit 0") << false
            << 2 << QStringList("Installation Error");
    QTest::newRow("entry and tools missing, two boxes answered")
            << true << false << false << ok << false << 0
            << QStringList({ "Installation Error", "Missing Installation Files" });
}

void TestIconMode::iconMode()
{
    QFETCH(bool, session);
    QFETCH(bool, withEntry);
    QFETCH(bool, withTools);
    QFETCH(QByteArray, iconTool);
    QFETCH(bool, makefile);
    QFETCH(int, runsEach);
    QFETCH(QStringList, boxes);

    if (session)
        qputenv("KDE_FULL_SESSION", "true");
    else
        qunsetenv("KDE_FULL_SESSION");
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    if (!withEntry)
        QVERIFY(QFile::remove(inst.entryPath()));
    if (withTools) {
        QVERIFY(inst.addTool(QStringLiteral("xdg-icon-resource"), iconTool));
        QVERIFY(inst.addTool(QStringLiteral("xdg-desktop-menu")));
    }
    QVERIFY(TestEnvironment::writeScript(inst.dir() + QStringLiteral("/bin/pesk"), "exit 0\n"));
    if (makefile)
        QVERIFY(TestEnvironment::writeScript(inst.dir() + QStringLiteral("/Makefile"), "all:\n"));
    const QString program = inst.dir() + QStringLiteral("/bin/installer");
    QVERIFY(QFile::copy(QStringLiteral(ZARVO_INSTALLER_PROGRAM), program));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // The program's compiled-in toolkit paths look for plug-ins in ../lib/plugins.
    QVERIFY(QDir().mkpath(inst.dir() + QStringLiteral("/lib")));
    QVERIFY(QFile::link(QLibraryInfo::location(QLibraryInfo::PluginsPath),
                        inst.dir() + QStringLiteral("/lib/plugins")));
    // Started from a directory outside any build tree.
    const QString workDir = inst.tmpPath() + QStringLiteral("/work/here");
    QVERIFY(QDir().mkpath(workDir));

    QByteArray expectedEntry = FakeInstallation::shippedEntry();
    if (!makefile) {
        const QByteArray path = QFile::encodeName(inst.dir()) + "/bin/corvane-zarvo";
        expectedEntry.replace("Name=Corvane Zarvo\n", "Name=Corvane Zarvo 25.1.3\n")
                .replace("GenericName=Cluster Tools\n", "GenericName=Cluster Tools 25.1.3\n")
                .replace("TryExec=pesk\n", "TryExec=" + path + "\n")
                .replace("Exec=pesk %F\n", "Exec=" + path + " -gui\n");
    }

    // Twice, as a user may: the second run must leave the entry as the first did.
    for (int run = 1; run <= 2; ++run) {
        QStringList shown;
        QString why;
        QVERIFY2(runProgram(inst, workDir, &shown, &why), qPrintable(why));
        QCOMPARE(shown, boxes);
        QCOMPARE(inst.runs().size(), runsEach * run);
        if (withEntry)
            QCOMPARE(inst.entry(), expectedEntry);
        else
            QVERIFY(!QFile::exists(inst.entryPath()));
    }
    for (const QString &line : inst.runs())
        QVERIFY2(line.section(QLatin1Char('|'), 1, 1) == QLatin1String("user"), qPrintable(line));
}

ZARVO_TEST_MAIN_CORE(TestIconMode)
#include "tst_iconmode.moc"
