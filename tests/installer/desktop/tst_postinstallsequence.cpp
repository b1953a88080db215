#include "installer/desktop/postinstallsequence.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"

#include <QFile>

class TestPostInstallSequence : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void warning_data();
    void warning();
    void sequence_data();
    void sequence();
};

void TestPostInstallSequence::init()
{
    qunsetenv("KDE_FULL_SESSION");
    qunsetenv("GNOME_DESKTOP_SESSION_ID");
    qunsetenv("XDG_UTILS_INSTALL_MODE");
}

void TestPostInstallSequence::warning_data()
{
    QTest::addColumn<QStringList>("libraries");
    QTest::addColumn<QString>("text");

    QTest::newRow("none missing") << QStringList() << QString();
    QTest::newRow("one missing")
            << QStringList("libX.so.1")
            << "The shared library libX.so.1 is not installed.\n"
               "Corvane Zarvo may not run correctly without this library.";
    QTest::newRow("three missing, in the order found, duplicates kept")
            << QStringList({ "libz.so.1", "libA.so.2", "libz.so.1" })
            << "The shared libraries libz.so.1, libA.so.2, libz.so.1 are not installed.\n"
               "Corvane Zarvo may not run correctly without these libraries.";
    QTest::newRow("percent sign in a name")
            << QStringList("lib%2.so")
            << "The shared library lib%2.so is not installed.\n"
               "Corvane Zarvo may not run correctly without this library.";
}

void TestPostInstallSequence::warning()
{
    QFETCH(QStringList, libraries);
    QFETCH(QString, text);
    QCOMPARE(missingLibrariesWarning(libraries), text);
}

void TestPostInstallSequence::sequence_data()
{
    QTest::addColumn<QStringList>("libraries");
    QTest::addColumn<bool>("session");
    QTest::addColumn<QByteArray>("iconTool");
    QTest::addColumn<bool>("handOvers");
    QTest::addColumn<QStringList>("trace");

    const QString icons = QStringLiteral("status Adding icons to desktop menu");
    const QString association = QStringLiteral("status Creating file association");
    const QString cleaning = QStringLiteral("status Cleaning up files from previous installation(s)");
    const QString finished = QStringLiteral("status Finished");
    const QString iconRun = QStringLiteral(
            "run xdg-icon-resource|user|install|--size|%1|@/icons/%1x%1/corvane-zarvo.png");
    const QString mimeRun = QStringLiteral("run xdg-mime|%1|install|@/lumo-mime.xml");
    const QString scriptRun = QStringLiteral("run post-install.sh|%1");

    QTest::newRow("nothing to do") << QStringList() << false << QByteArray("exit 0") << false
                                   << QStringList({ icons, association, cleaning, finished });
    QTest::newRow("one missing library")
            << QStringList("libX.so.1") << false << QByteArray("exit 0") << false
            << QStringList({ "box 0 Warning Missing Dependancies: The shared library libX.so.1"
                             " is not installed.\nCorvane Zarvo may not run correctly without"
                             " this library.",
                             icons, association, cleaning, finished });
    QTest::newRow("three missing libraries")
            << QStringList({ "libA.so", "libB.so", "libC.so" }) << false
            << QByteArray("exit 0") << false
            << QStringList({ "box 0 Warning Missing Dependancies: The shared libraries libA.so,"
                             " libB.so, libC.so are not installed.\nCorvane Zarvo may not run"
                             " correctly without these libraries.",
                             icons, association, cleaning, finished });
    QTest::newRow("icon tool fails, the rest goes on")
            << QStringList() << true << QByteArray("[ \"$3\" = 24 ] && exit 2; exit 0") << true
            << QStringList({ icons, iconRun.arg(16), iconRun.arg(24),
                             "box window Critical Installation Error: xdg-icon-resource exited"
                             " with status 2.",
                             association, mimeRun.arg("user"), cleaning,
                             scriptRun.arg("user"), finished });
    QTest::newRow("everything, mode passed on")
            << QStringList() << true << QByteArray("exit 0") << true
            << QStringList({ icons, iconRun.arg(16), iconRun.arg(24), iconRun.arg(32),
                             iconRun.arg(48),
                             "run xdg-desktop-menu|user|install|@/icons/corvane-zarvo.desktop",
                             association, mimeRun.arg("user"), cleaning, scriptRun.arg("user"),
                             finished });
}

void TestPostInstallSequence::sequence()
{
    QFETCH(QStringList, libraries);
    QFETCH(bool, session);
    QFETCH(QByteArray, iconTool);
    QFETCH(bool, handOvers);
    QFETCH(QStringList, trace);

    if (session)
        qputenv("GNOME_DESKTOP_SESSION_ID", "this-is-deprecated");
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    QVERIFY(inst.addTool(QStringLiteral("xdg-icon-resource"), iconTool));
    QVERIFY(inst.addTool(QStringLiteral("xdg-desktop-menu")));
    QVERIFY(inst.addPathTool(QStringLiteral("xdg-mime")));
    const PathPrepend path(inst.binDir());
    const QString package = inst.dir() + QStringLiteral("/lumo-mime.xml");
    const QString script = inst.dir() + QStringLiteral("/post-install.sh");
    if (handOvers) {
        QVERIFY(TestEnvironment::writeScript(package, "<mime-info/>\n"));
        QVERIFY(inst.writeTool(script, "exit 0"));
    }

    // One trace of statuses, boxes and tool runs, in the order they happened.
    QStringList actual;
    int runsSeen = 0;
    const auto takeRuns = [&] {
        const QStringList runs = inst.runs();
        for (int i = runsSeen; i < runs.size(); ++i)
            actual << QStringLiteral("run ") + runs[i];
        runsSeen = runs.size();
    };
    RecordingPrompt prompt;
    QObject window;
    Installer installer(&window, &prompt);
    prompt.onTell = [&] {
        takeRuns();
        const RecordingPrompt::Box &box = prompt.boxes.last();
        actual << QStringLiteral("box %1 %2 %3: %4")
                          .arg(box.owner == &window ? QStringLiteral("window")
                                                    : QString::number(quintptr(box.owner)),
                               box.severity == UserPrompt::Warning ? QStringLiteral("Warning")
                                                                   : QStringLiteral("Critical"),
                               box.title, box.text);
    };

    runPostInstallSequence(installer, inst.dir(), libraries, inst.dir(),
                           [&](const QString &status) {
                               takeRuns();
                               actual << QStringLiteral("status ") + status;
                           });
    takeRuns();

    trace.replaceInStrings(QStringLiteral("@"), inst.dir());
    QCOMPARE(actual, trace);
    QVERIFY(!QFile::exists(package));
    QVERIFY(!QFile::exists(script));
}

ZARVO_TEST_MAIN_CORE(TestPostInstallSequence)
#include "tst_postinstallsequence.moc"
