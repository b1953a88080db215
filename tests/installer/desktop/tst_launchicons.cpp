#include "installer/desktop/launchicons.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>

namespace {

QString iconRun(const QString &dir, int size, const QString &mode = QStringLiteral("user"))
{
    return QStringLiteral("xdg-icon-resource|%1|install|--size|%2|%3/icons/%2x%2/corvane-zarvo.png")
            .arg(mode).arg(size).arg(dir);
}

QString menuRun(const QString &dir, const QString &mode = QStringLiteral("user"))
{
    return QStringLiteral("xdg-desktop-menu|%1|install|%2/icons/corvane-zarvo.desktop")
            .arg(mode, dir);
}

QStringList allRuns(const QString &dir)
{
    QStringList runs;
    for (const int size : FakeInstallation::iconSizes())
        runs << iconRun(dir, size);
    return runs << menuRun(dir);
}

QString boxes(const RecordingPrompt &prompt)
{
    QStringList shown;
    for (const RecordingPrompt::Box &box : prompt.boxes)
        shown << box.title + QStringLiteral(": ") + box.text;
    return shown.join(QLatin1Char('\n'));
}

} // namespace

class TestLaunchIcons : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void session_data();
    void session();
    void buildTree_data();
    void buildTree();
    void failure_data();
    void failure();
    void installMode_data();
    void installMode();
    void missingEntry();

private:
    QString m_oldCurrent;
    QTemporaryDir m_workDir;
};

void TestLaunchIcons::init()
{
    qunsetenv("KDE_FULL_SESSION");
    qunsetenv("GNOME_DESKTOP_SESSION_ID");
    qunsetenv("XDG_UTILS_INSTALL_MODE");
    // The test program lies in a build tree; the rows choose their own.
    m_oldCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_workDir.path()));
}

void TestLaunchIcons::cleanup()
{
    QDir::setCurrent(m_oldCurrent);
}

void TestLaunchIcons::session_data()
{
    QTest::addColumn<QByteArray>("kde");
    QTest::addColumn<QByteArray>("gnome");
    QTest::addColumn<bool>("present");

    QTest::newRow("no desktop session") << QByteArray() << QByteArray() << false;
    QTest::newRow("KDE session") << QByteArray("true") << QByteArray() << true;
    QTest::newRow("KDE variable in capitals") << QByteArray("TRUE") << QByteArray() << false;
    QTest::newRow("KDE variable set to 1") << QByteArray("1") << QByteArray() << false;
    QTest::newRow("GNOME session") << QByteArray() << QByteArray("this-is-deprecated") << true;
    QTest::newRow("GNOME variable empty") << QByteArray() << QByteArray("") << false;
    QTest::newRow("KDE false but GNOME session")
            << QByteArray("false") << QByteArray("1") << true;
}

void TestLaunchIcons::session()
{
    QFETCH(QByteArray, kde);
    QFETCH(QByteArray, gnome);
    QFETCH(bool, present);

    if (!kde.isNull())
        qputenv("KDE_FULL_SESSION", kde);
    if (!gnome.isNull())
        qputenv("GNOME_DESKTOP_SESSION_ID", gnome);
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    QVERIFY(inst.addAllTools());
    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);

    installLaunchIcons(installer, inst.dir(), inst.dir() + QStringLiteral("/bin"));

    QCOMPARE(inst.runs(), present ? allRuns(inst.dir()) : QStringList());
    QVERIFY2(prompt.boxes.isEmpty(), qPrintable(boxes(prompt)));
    // The entry is rewritten whether or not a desktop is there to take it.
    QVERIFY2(inst.entry().contains("\nExec=" + QFile::encodeName(inst.dir())
                                   + "/bin/corvane-zarvo -gui\n"),
             inst.entry());
}

void TestLaunchIcons::buildTree_data()
{
    QTest::addColumn<QString>("makefile");
    QTest::addColumn<bool>("buildTree");

    QTest::newRow("no Makefile anywhere") << QString() << false;
    QTest::newRow("Makefile beside the program") << "prog/bin/Makefile" << true;
    QTest::newRow("Makefile in the program's parent") << "prog/Makefile" << true;
    QTest::newRow("Makefile in the working directory") << "work/here/Makefile" << true;
    QTest::newRow("Makefile in the working directory's parent") << "work/Makefile" << true;
    QTest::newRow("Makefile that is a directory") << "prog/Makefile/" << true;
    QTest::newRow("Makefile two levels up does not count") << "Makefile" << false;
}

void TestLaunchIcons::buildTree()
{
    QFETCH(QString, makefile);
    QFETCH(bool, buildTree);

    qputenv("KDE_FULL_SESSION", "true");
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    QVERIFY(inst.addAllTools());
    const QString tree = inst.tmpPath() + QStringLiteral("/tree/");
    QVERIFY(QDir().mkpath(tree + QStringLiteral("prog/bin")));
    QVERIFY(QDir().mkpath(tree + QStringLiteral("work/here")));
    if (makefile.endsWith(QLatin1Char('/')))
        QVERIFY(QDir().mkpath(tree + makefile));
    else if (!makefile.isEmpty())
        QVERIFY(TestEnvironment::writeScript(tree + makefile, "all:\n"));
    QVERIFY(QDir::setCurrent(tree + QStringLiteral("work/here")));
    const QString appDir = tree + QStringLiteral("prog/bin");

    QCOMPARE(isBuildTree(appDir), buildTree);

    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);
    installLaunchIcons(installer, inst.dir(), appDir);
    QCOMPARE(inst.entry() == FakeInstallation::shippedEntry(), buildTree);
    QCOMPARE(inst.runs(), allRuns(inst.dir()));
    QVERIFY2(prompt.boxes.isEmpty(), qPrintable(boxes(prompt)));
}

void TestLaunchIcons::failure_data()
{
    QTest::addColumn<QString>("iconTool");
    QTest::addColumn<QString>("menuTool");
    QTest::addColumn<bool>("icons");
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const QString ok = QStringLiteral("exit 0");
    const QString missing = QStringLiteral("<missing>");
    QStringList allSizes;
    for (const int size : FakeInstallation::iconSizes())
        allSizes << QStringLiteral("icon %1").arg(size);

    QTest::newRow("icon tool fails at size 24")
            << "[ \"$3\" = 24 ] && exit 3; exit 0" << ok << true
            << QStringList({ "icon 16", "icon 24" }) << "Installation Error"
            << "xdg-icon-resource exited with status 3.";
    QTest::newRow("icon tool not executable")
            << "<not executable>" << ok << true << QStringList() << "Installation Error"
            << "xdg-icon-resource exited with status -2.";
    QTest::newRow("icon tool crashes")
            << "kill -SEGV $$" << ok << true << QStringList({ "icon 16" })
            << "Installation Error" << "xdg-icon-resource exited with status -1.";
    QTest::newRow("menu tool fails")
            << ok << "exit 1" << true << QStringList(allSizes) + QStringList("menu")
            << "Installation Error" << "xdg-desktop-menu exited with status 1.";
    QTest::newRow("menu tool missing")
            << ok << missing << true << QStringList() << "Missing Installation Files"
            << "Required script xdg-desktop-menu not found in \"@/libexec\".";
    QTest::newRow("both tools missing")
            << missing << missing << true << QStringList() << "Missing Installation Files"
            << "Required script xdg-icon-resource not found in \"@/libexec\".";
    QTest::newRow("icons directory missing")
            << ok << ok << false << QStringList() << "Missing Installation Files"
            << "Corvane Zarvo icon files not found in \"@/icons\".";
}

void TestLaunchIcons::failure()
{
    QFETCH(QString, iconTool);
    QFETCH(QString, menuTool);
    QFETCH(bool, icons);
    QFETCH(QStringList, runs);
    QFETCH(QString, title);
    QFETCH(QString, text);

    qputenv("KDE_FULL_SESSION", "true");
    FakeInstallation inst;
    if (icons)
        QVERIFY(inst.addIcons());
    const QString iconPath = inst.dir() + QStringLiteral("/libexec/xdg-icon-resource");
    if (iconTool == QLatin1String("<not executable>")) {
        QVERIFY(inst.addTool(QStringLiteral("xdg-icon-resource")));
        QVERIFY(QFile::setPermissions(iconPath, QFile::ReadOwner | QFile::WriteOwner));
    } else if (iconTool != QLatin1String("<missing>")) {
        QVERIFY(inst.addTool(QStringLiteral("xdg-icon-resource"), iconTool.toLocal8Bit()));
    }
    if (menuTool != QLatin1String("<missing>"))
        QVERIFY(inst.addTool(QStringLiteral("xdg-desktop-menu"), menuTool.toLocal8Bit()));

    RecordingPrompt prompt;
    QObject window;
    Installer installer(&window, &prompt);
    installIconsAndMenuEntry(installer, inst.dir(), QStringLiteral("corvane-zarvo.desktop"),
                             QStringLiteral("corvane-zarvo.png"));

    QStringList expectedRuns;
    for (const QString &run : qAsConst(runs)) {
        expectedRuns << (run == QLatin1String("menu") ? menuRun(inst.dir())
                                                      : iconRun(inst.dir(), run.mid(5).toInt()));
    }
    QCOMPARE(inst.runs(), expectedRuns);
    QCOMPARE(prompt.boxes.size(), 1);
    QCOMPARE(prompt.boxes[0].owner, &window);
    QCOMPARE(prompt.boxes[0].severity, UserPrompt::Critical);
    QCOMPARE(prompt.boxes[0].title, title);
    QCOMPARE(prompt.boxes[0].text, text.replace(QLatin1Char('@'), inst.dir()));
}

void TestLaunchIcons::installMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected");

    QTest::newRow("just for me") << 1 << "user";
    QTest::newRow("all users") << 0 << "system";
}

void TestLaunchIcons::installMode()
{
    QFETCH(int, mode);
    QFETCH(QString, expected);

    qputenv("KDE_FULL_SESSION", "true");
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    QVERIFY(inst.addAllTools());
    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);
    installer.setInstallMode(mode);

    installIconsAndMenuEntry(installer, inst.dir(), QStringLiteral("corvane-zarvo.desktop"),
                             QStringLiteral("corvane-zarvo.png"));
    // Icons and menu entry go to the same place: both tools see the mode.
    QStringList runs;
    for (const int size : FakeInstallation::iconSizes())
        runs << iconRun(inst.dir(), size, expected);
    runs << menuRun(inst.dir(), expected);
    QCOMPARE(inst.runs(), runs);
    QVERIFY2(prompt.boxes.isEmpty(), qPrintable(boxes(prompt)));

    // The setting stays in the process for the hand-overs that follow.
    QCOMPARE(qgetenv("XDG_UTILS_INSTALL_MODE"), expected.toLocal8Bit());
}

void TestLaunchIcons::missingEntry()
{
    qputenv("KDE_FULL_SESSION", "true");
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    QVERIFY(QFile::remove(inst.entryPath()));
    QVERIFY(inst.addAllTools());
    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);

    installLaunchIcons(installer, inst.dir(), inst.dir() + QStringLiteral("/bin"));
    QCOMPARE(boxes(prompt), QStringLiteral("Installation Error: Could not open \"%1\" for reading.")
                                    .arg(inst.entryPath()));
    QCOMPARE(prompt.boxes[0].owner, nullptr);
    // The menu tool has its say on the missing file through its exit status.
    QCOMPARE(inst.runs(), allRuns(inst.dir()));
    QVERIFY(!QFile::exists(inst.entryPath()));
}

ZARVO_TEST_MAIN_CORE(TestLaunchIcons)
#include "tst_launchicons.moc"
