#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>

// Each row sends one message through the installer's handler in a copy of the
// start-up probe and looks at what reaches standard error and how it ends.
// The fake ldd first on the probe's PATH prints the row's text and notes the
// file it was asked about. Debug output is switched off, as a user's logging
// rules may do: the diagnosis must come all the same.
class TestMessageHandler : public QObject
{
    Q_OBJECT

private slots:
    void handlesMessage_data();
    void handlesMessage();
};

namespace {

const char pluginMessage[] = "Could not load the Qt platform plugin \"xcb\" in \"\" even though it was found.";
const char noPluginMessage[] =
    "This application failed to start because no Qt platform plugin could be initialized. "
    "Reinstalling the application may fix this problem.\n\nAvailable platform plugins are: "
    "offscreen.\n";

// The dependency block has no defined order; sort it so rows can name it.
QString sortDependencyBlock(const QString &text)
{
    const QString header = QStringLiteral("These dependencies could not be found:\n");
    const int start = text.indexOf(header);
    if (start < 0)
        return text;
    const int namesAt = start + header.size();
    const int end = text.indexOf(QStringLiteral("\n\n"), namesAt);
    if (end < 0)
        return text;
    QStringList names = text.mid(namesAt, end - namesAt).split(QLatin1Char('\n'));
    names.sort();
    return text.left(namesAt) + names.join(QLatin1Char('\n')) + text.mid(end);
}

} // namespace

void TestMessageHandler::handlesMessage_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("lddOutput"); // null: no ldd on PATH
    QTest::addColumn<QString>("ending");       // "went on", "status 1" or "aborted"
    QTest::addColumn<QString>("expectedError");

    const QString plugin = QString::fromLatin1(pluginMessage);
    const QString quoted = QStringLiteral("Message returned: '%1'\n").arg(plugin);
    const QByteArray missingTwo("\tlinux-vdso.so.1 (0x00007ffc1b5e5000)\n"
                                "\tlibxkbcommon-x11.so.0 => not found\n"
                                "\tlibQt5Gui.so.5 => /lib/x86_64-linux-gnu/libQt5Gui.so.5 (0x1)\n"
                                "\tlibxcb-icccm.so.4 => not found\n"
                                "\tlibxkbcommon-x11.so.0 => not found\n");
    const QByteArray allPresent("\tlibQt5Gui.so.5 => /lib/x86_64-linux-gnu/libQt5Gui.so.5 (0x1)\n"
                                "\t/lib64/ld-linux-x86-64.so.2 (0x2)\n");

    QTest::newRow("no display")
        << "warning" << "could not connect to display :99" << QByteArray() << "status 1"
        << "Unable to connect to display.\n";
    QTest::newRow("no display, reported as critical")
        << "critical" << "could not connect to display " << QByteArray() << "status 1"
        << "Unable to connect to display.\n";
    QTest::newRow("display text in the middle of a message")
        << "warning" << "qt.qpa.xcb: could not connect to display" << QByteArray() << "went on"
        << "";
    QTest::newRow("display text in other letter case")
        << "warning" << "Could not connect to display" << QByteArray() << "went on" << "";
    QTest::newRow("plug-in lacking two libraries")
        << "warning" << plugin << missingTwo << "status 1"
        << QStringLiteral("Unable to load Qt QPA plugin.\n\nThese dependencies could not be "
                          "found:\nlibxcb-icccm.so.4\nlibxkbcommon-x11.so.0\n\n")
               + quoted;
    QTest::newRow("plug-in failure reported as fatal")
        << "fatal" << plugin << missingTwo << "status 1"
        << QStringLiteral("Unable to load Qt QPA plugin.\n\nThese dependencies could not be "
                          "found:\nlibxcb-icccm.so.4\nlibxkbcommon-x11.so.0\n\n")
               + quoted;
    QTest::newRow("plug-in with every library present")
        << "warning" << plugin << allPresent << "status 1"
        << QStringLiteral("Unable to load Qt QPA plugin.\n") + quoted;
    QTest::newRow("plug-in failure and no ldd")
        << "warning" << plugin << QByteArray() << "status 1"
        << QStringLiteral("Unable to load Qt QPA plugin.\n") + quoted;
    QTest::newRow("plug-in text in the middle of a message")
        << "critical" << QStringLiteral("qt.qpa: ") + plugin << missingTwo << "went on" << "";
    QTest::newRow("ordinary warning is dropped")
        << "warning" << "QString::arg: Argument missing: Corvane Zarvo, 2" << QByteArray()
        << "went on" << "";
    QTest::newRow("debug and info messages are dropped")
        << "info" << "Could not find the Qt platform plugin \"xcb\" in \"\"" << QByteArray()
        << "went on" << "";
    QTest::newRow("warning from another thread is dropped")
        << "thread-warning" << "QObject::startTimer: Timers cannot be started from another thread"
        << QByteArray() << "went on" << "";
    QTest::newRow("other fatal message reaches standard error")
        << "fatal" << noPluginMessage << QByteArray() << "aborted"
        << QString::fromLatin1(noPluginMessage) + QLatin1Char('\n');
}

void TestMessageHandler::handlesMessage()
{
    QFETCH(QString, type);
    QFETCH(QString, text);
    QFETCH(QByteArray, lddOutput);
    QFETCH(QString, ending);
    QFETCH(QString, expectedError);

    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    const QDir root(QDir(tree.path()).canonicalPath());
    QVERIFY(root.mkpath(QStringLiteral("bin")) && root.mkpath(QStringLiteral("tools")));
    const QString probe = root.filePath(QStringLiteral("bin/startupprobe"));
    QVERIFY(QFile::copy(QStringLiteral(ZARVO_STARTUP_PROBE), probe));

    const QString seen = root.filePath(QStringLiteral("ldd-was-asked"));
    if (!lddOutput.isNull()) {
        const QString output = root.filePath(QStringLiteral("ldd-output"));
        QFile file(output);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(lddOutput), qint64(lddOutput.size()));
        file.close();
        QVERIFY(TestEnvironment::writeScript(
            root.filePath(QStringLiteral("tools/ldd")),
            "#!/bin/sh\nprintf '%s' \"$1\" > '" + QFile::encodeName(seen) + "'\n"
            "exec /bin/cat '" + QFile::encodeName(output) + "'\n"));
    }

    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), root.filePath(QStringLiteral("tools")));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    run.setProcessEnvironment(environment);
    run.start(probe, {QStringLiteral("message"), type, text});
    QVERIFY2(run.waitForFinished(30000), "the probe did not finish");

    const QString output = QString::fromUtf8(run.readAllStandardOutput());
    const QString error = QString::fromUtf8(run.readAllStandardError());
    QCOMPARE(sortDependencyBlock(error), expectedError);
    if (ending == QLatin1String("aborted")) {
        QCOMPARE(run.exitStatus(), QProcess::CrashExit);
    } else {
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), ending == QLatin1String("went on") ? 0 : 1);
        QCOMPARE(output, ending == QLatin1String("went on") ? QStringLiteral("went on\n") : QString());
    }

    const bool pluginCase = error.startsWith(QLatin1String("Unable to load Qt QPA plugin."));
    if (pluginCase && !lddOutput.isNull()) {
        QFile asked(seen);
        QVERIFY2(asked.open(QIODevice::ReadOnly), "ldd was not run");
        QCOMPARE(QString::fromUtf8(asked.readAll()),
                 root.filePath(QStringLiteral("bin/platforms/libqxcb.so")));
    }
}

ZARVO_TEST_MAIN_CORE(TestMessageHandler)
#include "tst_messagehandler.moc"
