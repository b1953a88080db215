#include "installer/desktop/launchicons.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"
#include "util/childprocess.h"

#include <QDir>
#include <QFile>

namespace {

// What the fake tools log for the given runs ("16" .. "48" for the icon
// sizes, "menu" for the menu entry) in installation dir.
QStringList toolRuns(const QString &dir, const QStringList &runs, const QString &mode)
{
    QStringList lines;
    for (const QString &run : runs) {
        lines << (run == QLatin1String("menu")
                          ? QStringLiteral("xdg-desktop-menu|%1|install|%2/icons/corvane-zarvo.desktop")
                                    .arg(mode, dir)
                          : QStringLiteral("xdg-icon-resource|%1|install|--size|%2|"
                                           "%3/icons/%2x%2/corvane-zarvo.png")
                                    .arg(mode, run, dir));
    }
    return lines;
}

const QStringList allRuns = { "16", "24", "32", "48", "menu" };

} // namespace

class TestLaunchIcons : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void registration_data();
    void registration();
    void failure_data();
    void failure();

private:
    QString m_oldCurrent;
};

void TestLaunchIcons::init()
{
    qunsetenv("KDE_FULL_SESSION");
    qunsetenv("GNOME_DESKTOP_SESSION_ID");
    qunsetenv("XDG_UTILS_INSTALL_MODE");
    m_oldCurrent = QDir::currentPath();
}

void TestLaunchIcons::cleanup()
{
    QDir::setCurrent(m_oldCurrent);
}

void TestLaunchIcons::registration_data()
{
    QTest::addColumn<QByteArray>("kde");
    QTest::addColumn<QByteArray>("gnome");
    QTest::addColumn<QString>("makefile");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("session");

    const QByteArray unset;
    QTest::newRow("no desktop session") << unset << unset << QString() << 1 << false;
    QTest::newRow("KDE session") << QByteArray("true") << unset << QString() << 1 << true;
    QTest::newRow("KDE variable in capitals") << QByteArray("TRUE") << unset << QString() << 1
                                              << false;
    QTest::newRow("KDE variable set to 1") << QByteArray("1") << unset << QString() << 1 << false;
    QTest::newRow("GNOME session") << unset << QByteArray("x") << QString() << 1 << true;
    QTest::newRow("GNOME variable empty") << unset << QByteArray("") << QString() << 1 << false;
    QTest::newRow("KDE false but GNOME session")
            << QByteArray("false") << QByteArray("1") << QString() << 1 << true;
    QTest::newRow("all users: system-wide mode") << QByteArray("true") << unset << QString() << 0
                                                 << true;
    QTest::newRow("Makefile beside the program") << QByteArray("true") << unset
                                                 << "prog/bin/Makefile" << 1 << true;
    QTest::newRow("Makefile in the program's parent") << QByteArray("true") << unset
                                                      << "prog/Makefile" << 1 << true;
    QTest::newRow("Makefile in the working directory") << QByteArray("true") << unset
                                                       << "work/here/Makefile" << 1 << true;
    QTest::newRow("Makefile in the working directory's parent, no session")
            << unset << unset << "work/Makefile" << 1 << false;
    QTest::newRow("Makefile that is a directory") << QByteArray("true") << unset
                                                  << "prog/Makefile/" << 1 << true;
    QTest::newRow("Makefile two levels up does not count") << QByteArray("true") << unset
                                                           << "Makefile" << 1 << true;
}

void TestLaunchIcons::registration()
{
    QFETCH(QByteArray, kde);
    QFETCH(QByteArray, gnome);
    QFETCH(QString, makefile);
    QFETCH(int, mode);
    QFETCH(bool, session);

    if (!kde.isNull())
        qputenv("KDE_FULL_SESSION", kde);
    if (!gnome.isNull())
        qputenv("GNOME_DESKTOP_SESSION_ID", gnome);
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    QVERIFY(inst.addAllTools());
    // The test program itself lies in a build tree: place program and
    // working directory in a tree of the row's making.
    const QString tree = inst.tmpPath() + QStringLiteral("/tree/");
    QVERIFY(QDir().mkpath(tree + QStringLiteral("prog/bin")));
    QVERIFY(QDir().mkpath(tree + QStringLiteral("work/here")));
    // Only the top of the tree lies two levels above both directories.
    const bool buildTree = makefile.contains(QLatin1Char('/'));
    if (makefile.endsWith(QLatin1Char('/')))
        QVERIFY(QDir().mkpath(tree + makefile));
    else if (!makefile.isEmpty())
        QVERIFY(TestEnvironment::writeScript(tree + makefile, "all:\n"));
    QVERIFY(QDir::setCurrent(tree + QStringLiteral("work/here")));
    QCOMPARE(isBuildTree(tree + QStringLiteral("prog/bin")), buildTree);

    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);
    installer.setInstallMode(mode);
    installLaunchIcons(installer, inst.dir(), tree + QStringLiteral("prog/bin"));

    QVERIFY2(prompt.boxes.isEmpty(), qPrintable(prompt.shown()));
    // Icons and menu entry go to the same place: every tool sees the mode.
    const QString modeName = mode ? QStringLiteral("user") : QStringLiteral("system");
    QCOMPARE(inst.runs(), session ? toolRuns(inst.dir(), allRuns, modeName) : QStringList());
    if (session)
        QCOMPARE(qgetenv("XDG_UTILS_INSTALL_MODE"), modeName.toLocal8Bit());
    // The entry is rewritten whether or not a desktop is there to take it.
    QCOMPARE(inst.entry().contains("\nExec=" + QFile::encodeName(inst.dir())
                                   + "/bin/corvane-zarvo -gui\n"),
             !buildTree);
}

void TestLaunchIcons::failure_data()
{
    QTest::addColumn<QString>("iconTool");
    QTest::addColumn<QString>("menuTool");
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QString>("shown");

    const QString ok = QStringLiteral("exit 0");
    QTest::newRow("icon tool fails at size 24")
            << "[ \"$3\" = 24 ] && exit 3; exit 0" << ok << QString() << QStringList({ "16", "24" })
            << "Installation Error: xdg-icon-resource exited with status 3.";
    QTest::newRow("icon tool not executable")
            << "<not executable>" << ok << QString() << QStringList()
            << "Installation Error: xdg-icon-resource exited with status -2.";
    QTest::newRow("icon tool crashes")
            << "kill -SEGV $$" << ok << QString() << QStringList("16")
            << "Installation Error: xdg-icon-resource exited with status -1.";
    // Stopped at the limit; it must not wait for input either.
    QTest::newRow("icon tool hangs")
            << "read line; sleep 30" << ok << QString()
            << QStringList("16")
            << "Installation Error: xdg-icon-resource did not finish within 1 seconds and was "
               "stopped.";
    QTest::newRow("menu tool fails")
            << ok << "exit 1" << QString() << allRuns
            << "Installation Error: xdg-desktop-menu exited with status 1.";
    QTest::newRow("menu tool missing")
            << ok << QString() << QString() << QStringList()
            << "Missing Installation Files: Required script xdg-desktop-menu not found in \"@/libexec\".";
    QTest::newRow("both tools missing")
            << QString() << QString() << QString() << QStringList()
            << "Missing Installation Files: Required script xdg-icon-resource not found in \"@/libexec\".";
    QTest::newRow("icons directory missing, entry and all")
            << ok << ok << "icons" << QStringList()
            << "Installation Error: Could not open \"@/icons/corvane-zarvo.desktop\" for reading.\n"
               "Missing Installation Files: Corvane Zarvo icon files not found in \"@/icons\".";
    QTest::newRow("desktop entry missing, the tools still run")
            << ok << ok << "icons/corvane-zarvo.desktop" << allRuns
            << "Installation Error: Could not open \"@/icons/corvane-zarvo.desktop\" for reading.";
}

void TestLaunchIcons::failure()
{
    QFETCH(QString, iconTool);
    QFETCH(QString, menuTool);
    QFETCH(QString, missing);
    QFETCH(QStringList, runs);
    QFETCH(QString, shown);

    qputenv("KDE_FULL_SESSION", "true");
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    if (!missing.isEmpty()) {
        QVERIFY(QFile::remove(inst.dir() + QLatin1Char('/') + missing)
                || QDir(inst.dir() + QLatin1Char('/') + missing).removeRecursively());
    }
    if (iconTool == QLatin1String("<not executable>")) {
        QVERIFY(inst.addTool(QStringLiteral("xdg-icon-resource")));
        QVERIFY(QFile::setPermissions(inst.dir() + QStringLiteral("/libexec/xdg-icon-resource"),
                                      QFile::ReadOwner | QFile::WriteOwner));
    } else if (!iconTool.isNull()) {
        QVERIFY(inst.addTool(QStringLiteral("xdg-icon-resource"), iconTool.toLocal8Bit()));
    }
    if (!menuTool.isNull())
        QVERIFY(inst.addTool(QStringLiteral("xdg-desktop-menu"), menuTool.toLocal8Bit()));
    QVERIFY(QDir::setCurrent(inst.tmpPath()));

    RecordingPrompt prompt;
    QObject window;
    Installer installer(&window, &prompt);
    setToolTimeLimitMs(1000);
    const DesktopSteps steps =
            installLaunchIcons(installer, inst.dir(), inst.dir() + QStringLiteral("/bin"));

    QCOMPARE(inst.runs(), toolRuns(inst.dir(), runs, QStringLiteral("user")));
    // The caller sees each step, and whether the user was told of a problem.
    QVERIFY(steps.size() == qMax(runs.size(), 1) + 1 && problemShown(steps));
    QCOMPARE(prompt.shown(), shown.replace(QLatin1Char('@'), inst.dir()));
    QCOMPARE(prompt.boxes[0].owner, &window);
    QCOMPARE(prompt.boxes[0].severity, UserPrompt::Critical);
}

ZARVO_TEST_MAIN_CORE(TestLaunchIcons)
#include "tst_launchicons.moc"
