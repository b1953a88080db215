#include "installer/desktop/postinstallsequence.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"

#include <QFile>
#include <QSignalSpy>

class TestPostInstallSequence : public QObject
{
    Q_OBJECT

private slots:
    void sequence_data();
    void sequence();
    void afterInstallation();
};

void TestPostInstallSequence::sequence_data()
{
    QTest::addColumn<QStringList>("libraries");
    QTest::addColumn<QByteArray>("iconTool");
    QTest::addColumn<QStringList>("trace");

    const QString icons = QStringLiteral("status Adding icons to desktop menu");
    const QString steps = QStringLiteral("status Creating file association\n"
                                         "status Cleaning up files from previous installation(s)\n"
                                         "status Finished");
    const QString handOvers = QStringLiteral(
            "status Creating file association\nrun xdg-mime|user|install|@/lumo-mime.xml\n"
            "status Cleaning up files from previous installation(s)\nrun post-install.sh|user\n"
            "status Finished");
    const QString iconRun = QStringLiteral(
            "run xdg-icon-resource|user|install|--size|%1|@/icons/%1x%1/corvane-zarvo.png");
    const QString warning = QStringLiteral("box none Warning Missing Dependancies: ");

    // Without a desktop session (no icon tool), and so without its status
    // line, and without hand-over files.
    QTest::newRow("nothing to do") << QStringList() << QByteArray() << QStringList({ steps });
    QTest::newRow("one missing library")
            << QStringList("libX.so.1") << QByteArray()
            << QStringList({ warning + "The shared library libX.so.1 is not installed.\n"
                                       "Corvane Zarvo may not run correctly without this library.",
                             steps });
    QTest::newRow("three missing libraries, in the order found")
            << QStringList({ "libz.so.1", "libA.so.2", "libz.so.1" }) << QByteArray()
            << QStringList({ warning + "The shared libraries libz.so.1, libA.so.2, libz.so.1 are"
                                       " not installed.\nCorvane Zarvo may not run correctly"
                                       " without these libraries.",
                             steps });
    QTest::newRow("percent sign in a library name")
            << QStringList("lib%2.so") << QByteArray()
            << QStringList({ warning + "The shared library lib%2.so is not installed.\n"
                                       "Corvane Zarvo may not run correctly without this library.",
                             steps });
    // In a desktop session that only the freedesktop.org variable tells of,
    // with "lumo-mime.xml" and "post-install.sh".
    QTest::newRow("icon tool fails, the rest goes on")
            << QStringList() << QByteArray("[ \"$3\" = 24 ] && exit 2; exit 0")
            << QStringList({ icons, iconRun.arg(16), iconRun.arg(24),
                             "box window Critical Installation Error: xdg-icon-resource exited"
                             " with status 2.",
                             handOvers });
    QTest::newRow("everything, the install mode passed on")
            << QStringList() << QByteArray("exit 0")
            << QStringList({ icons, iconRun.arg(16), iconRun.arg(24), iconRun.arg(32),
                             iconRun.arg(48),
                             "run xdg-desktop-menu|user|install|@/icons/corvane-zarvo.desktop",
                             handOvers });
}

void TestPostInstallSequence::sequence()
{
    QFETCH(QStringList, libraries);
    QFETCH(QByteArray, iconTool);
    QFETCH(QStringList, trace);

    qunsetenv("XDG_UTILS_INSTALL_MODE");
    if (iconTool.isNull())
        qunsetenv("XDG_CURRENT_DESKTOP");
    else
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    QVERIFY(inst.addTool(QStringLiteral("xdg-icon-resource"), iconTool));
    QVERIFY(inst.addTool(QStringLiteral("xdg-desktop-menu")));
    QVERIFY(inst.addPathTool(QStringLiteral("xdg-mime")));
    const PathPrepend path(inst.binDir());
    const QString package = inst.dir() + QStringLiteral("/lumo-mime.xml");
    const QString script = inst.dir() + QStringLiteral("/post-install.sh");
    if (!iconTool.isNull()) {
        QVERIFY(TestEnvironment::writeScript(package, "<mime-info/>\n"));
        QVERIFY(inst.writeTool(script, "exit 0"));
    }

    // One trace of statuses, boxes and tool runs, in the order they happened.
    QStringList actual;
    int runsSeen = 0;
    const auto takeRuns = [&] {
        const QStringList runs = inst.runs();
        for (; runsSeen < runs.size(); ++runsSeen)
            actual << QStringLiteral("run ") + runs[runsSeen];
    };
    RecordingPrompt prompt;
    QObject window;
    Installer installer(&window, &prompt);
    prompt.onTell = [&] {
        takeRuns();
        const RecordingPrompt::Box &box = prompt.boxes.last();
        actual << QStringLiteral("box %1 %2 %3: %4")
                          .arg(box.owner == &window ? "window" : box.owner ? "other" : "none",
                               box.severity == UserPrompt::Warning ? "Warning" : "Critical",
                               box.title, box.text);
    };

    runPostInstallSequence(installer, inst.dir(), libraries, {}, inst.dir(),
                           [&](const QString &status) {
                               takeRuns();
                               actual << QStringLiteral("status ") + status;
                           });
    takeRuns();

    QCOMPARE(actual.join(QLatin1Char('\n')),
             trace.join(QLatin1Char('\n')).replace(QLatin1Char('@'), inst.dir()));
    QVERIFY(!QFile::exists(package));
    QVERIFY(!QFile::exists(script));
}

// The sequence as a front end runs it: on the Installer of a real
// installation, which knows the destination and the missing libraries.
void TestPostInstallSequence::afterInstallation()
{
    qunsetenv("XDG_UTILS_INSTALL_MODE");
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    FakeInstallation source;
    QVERIFY(source.addIcons());
    QVERIFY(source.addAllTools());
    QVERIFY(TestEnvironment::writeScript(source.dir() + QStringLiteral("/bin/pesk"), "exit 0\n"));
    QVERIFY(TestEnvironment::writeScript(source.dir() + QStringLiteral("/libexec/zarvo.bin"),
                                         "exit 0\n"));
    QVERIFY(TestEnvironment::writeScript(source.dir() + QStringLiteral("/lumo-mime.xml"),
                                         "<mime-info/>\n"));
    QVERIFY(source.writeTool(source.dir() + QStringLiteral("/post-install.sh"), "exit 0"));
    QVERIFY(source.addPathTool(QStringLiteral("xdg-mime")));
    // The debugger needs a newer C library than the machine's.
    QVERIFY(TestEnvironment::writeScript(source.binDir() + QStringLiteral("/ldd"),
                                         "#!/bin/sh\ncase \"$1\" in *zarvo.bin)"
                                         " printf '\\tlibmissing.so.7 => not found\\n';;\n"
                                         "*gdb) echo \"$1: /lib/libc.so.6: version \\`GLIBC_2.99'"
                                         " not found (required by $1)\";; esac\n"));
    const PathPrepend path(source.binDir());
    const QString destination = source.tmpPath() + QStringLiteral("/dest");

    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);
    QSignalSpy finished(&installer, &Installer::finished);
    QSignalSpy error(&installer, &Installer::error);
    installer.install(source.dir(), destination);
    QVERIFY2(finished.wait(20000), qPrintable(error.value(0).value(0).toString()));

    QStringList statuses;
    runPostInstallSequence(installer, destination,
                           [&](const QString &status) { statuses << status; });

    QCOMPARE(prompt.shown(),
             QStringLiteral("Missing Dependancies: The shared libraries libmissing.so.7, libc.so.6 "
                            "are not installed.\nCorvane Zarvo may not run correctly without "
                            "these libraries.\nNot installed: version GLIBC_2.99 of libc.so.6 "
                            "(required by %1/libexec/gdb).")
                     .arg(destination));
    QCOMPARE(statuses.size(), 4);
    const QStringList runs = source.runs();
    QCOMPARE(runs.size(), 7);
    QCOMPARE(runs.value(4),
             QStringLiteral("xdg-desktop-menu|user|install|%1/icons/corvane-zarvo.desktop")
                     .arg(destination));
    QCOMPARE(runs.value(5),
             QStringLiteral("xdg-mime|user|install|%1/lumo-mime.xml").arg(destination));
    QCOMPARE(runs.value(6), QStringLiteral("post-install.sh|user"));
    QVERIFY(!QFile::exists(destination + QStringLiteral("/lumo-mime.xml")));
    QVERIFY(!QFile::exists(destination + QStringLiteral("/post-install.sh")));
    QVERIFY(QFile::exists(source.dir() + QStringLiteral("/post-install.sh")));
}

ZARVO_TEST_MAIN_CORE(TestPostInstallSequence)
#include "tst_postinstallsequence.moc"
