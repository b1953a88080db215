#include "tests/support/testenvironment.h"
#include "util/dependencyscan.h"

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextCodec>

// Runs the installer program itself under the test run's display: its command
// line, the box shown when no installation files are found, and the diagnosis
// on standard error when the display or the platform plug-in fails.
class TestInstallerProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void unknownOption_data();
    void unknownOption();
    void missingFiles_data();
    void missingFiles();
    void licenceTextsMissing();
    void iconOnly_data();
    void iconOnly();
    void noDisplay_data();
    void noDisplay();
    void pluginLacksLibrary_data();
    void pluginLacksLibrary();
    void pluginNotFound_data();
    void pluginNotFound();
    void ownLibrariesFirst_data();
    void ownLibrariesFirst();

private:
    struct Run
    {
        bool finished = false;
        QProcess::ExitStatus exitStatus = QProcess::NormalExit;
        int exitCode = -1;
        QString output;
        QString error;
        QString why;
    };

    QString copyProgram(const QString &binDir, bool withPlugins);
    QProcessEnvironment environment() const;
    Run run(const QString &program, const QStringList &arguments, const QString &boxTitle,
            const QProcessEnvironment &env);
    bool answerBox(qint64 pid, const QString &title, QProcess *installer, QString *why);

    QScopedPointer<QTemporaryDir> tree;
    QString root;
    QString workDir;
    QString xdotool;
};

namespace {

const char patchedLibrary[] = "libzarvo-absent-xcb.so.1";

QString usage(const QString &option, const QString &program)
{
    return QStringLiteral("Unknown option \"%1\".\n\n").arg(option)
        + QStringLiteral("Usage %1 [options] [install-directory]\n"
                         "Install to (optional) install directory.\n"
                         "Options recognized:\n"
                         "\t-icon\tOnly install launch icons to menus.\n")
              .arg(program);
}

QString systemPluginDir()
{
    return QLibraryInfo::location(QLibraryInfo::PluginsPath);
}

} // namespace

void TestInstallerProgram::initTestCase()
{
    QVERIFY2(QFileInfo(QStringLiteral(ZARVO_INSTALLER_PROGRAM)).isExecutable(),
             ZARVO_INSTALLER_PROGRAM " has not been built");
    xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
}

void TestInstallerProgram::init()
{
    tree.reset(new QTemporaryDir);
    QVERIFY(tree->isValid());
    root = QDir(tree->path()).canonicalPath();
    workDir = root + QStringLiteral("/work");
    QVERIFY(QDir().mkpath(workDir));
}

void TestInstallerProgram::cleanup()
{
    tree.reset();
}

// A copy of the program in binDir. With plug-ins, binDir/../lib/plugins leads
// to the system's, as in a shipped tree.
QString TestInstallerProgram::copyProgram(const QString &binDir, bool withPlugins)
{
    const QString program = binDir + QStringLiteral("/installer");
    if (!QDir().mkpath(binDir) || !QFile::copy(QStringLiteral(ZARVO_INSTALLER_PROGRAM), program))
        return QString();
    if (withPlugins) {
        const QString lib = QFileInfo(binDir).path() + QStringLiteral("/lib");
        if (!QDir().mkpath(lib) || !QFile::link(systemPluginDir(), lib + QStringLiteral("/plugins")))
            return QString();
    }
    return program;
}

// What a user's shell would give: no plug-in paths of the developer's, no
// desktop session, the xcb platform.
QProcessEnvironment TestInstallerProgram::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_PLUGIN_PATH"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM_PLUGIN_PATH"));
    env.remove(QStringLiteral("KDE_FULL_SESSION"));
    env.remove(QStringLiteral("GNOME_DESKTOP_SESSION_ID"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

bool TestInstallerProgram::answerBox(qint64 pid, const QString &title, QProcess *installer,
                                     QString *why)
{
    QProcess search;
    // Without --all a window of another program with the same title would match.
    search.start(xdotool, {QStringLiteral("search"), QStringLiteral("--sync"),
                           QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                           QLatin1Char('^') + title + QLatin1Char('$')});
    // A hang detector, generous for a loaded machine and the sanitizer build.
    if (!search.waitForFinished(90000)) {
        search.kill();
        search.waitForFinished(5000);
        *why = QStringLiteral("no window \"%1\" appeared").arg(title);
        return false;
    }
    const QString window =
        QString::fromLatin1(search.readAllStandardOutput()).split(QLatin1Char('\n')).value(0);
    // A key may arrive before the box is ready for it; press again until it
    // closes. The box closes on the key press and xdotool can then fail to
    // release the key; the server's auto-repeat of a key left held down would
    // close every later box on this display at once, so release it explicitly.
    for (int attempt = 0; attempt < 10; ++attempt) {
        QProcess::execute(xdotool, {QStringLiteral("key"), QStringLiteral("--window"), window,
                                    QStringLiteral("Return")});
        QProcess::execute(xdotool, {QStringLiteral("keyup"), QStringLiteral("Return")});
        if (installer->waitForFinished(1000))
            return true;
    }
    *why = QStringLiteral("the box \"%1\" did not close on Return").arg(title);
    return false;
}

TestInstallerProgram::Run TestInstallerProgram::run(const QString &program,
                                                    const QStringList &arguments,
                                                    const QString &boxTitle,
                                                    const QProcessEnvironment &env)
{
    Run result;
    QProcess installer;
    installer.setWorkingDirectory(workDir);
    installer.setProcessEnvironment(env);
    installer.start(program, arguments);
    if (!installer.waitForStarted(10000)) {
        result.why = QStringLiteral("the installer did not start");
        return result;
    }
    if (!boxTitle.isEmpty()
        && !answerBox(installer.processId(), boxTitle, &installer, &result.why)) {
        installer.kill();
        installer.waitForFinished(5000);
        return result;
    }
    result.finished =
        installer.state() == QProcess::NotRunning || installer.waitForFinished(30000);
    if (!result.finished) {
        result.why = QStringLiteral("the installer did not end");
        installer.kill();
        installer.waitForFinished(5000);
    }
    result.exitStatus = installer.exitStatus();
    result.exitCode = installer.exitCode();
    result.output = QString::fromLocal8Bit(installer.readAllStandardOutput());
    result.error = QString::fromLocal8Bit(installer.readAllStandardError());
    if (!result.error.isEmpty())
        result.why += QStringLiteral(" standard error: ") + result.error;
    return result;
}

#define REQUIRE_DISPLAY()                                                                        \
    do {                                                                                         \
        if (qEnvironmentVariableIsEmpty("DISPLAY"))                                              \
            QSKIP("needs an X display (DISPLAY), as scripts/test provides");                     \
    } while (false)

void TestInstallerProgram::unknownOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("option");

    QTest::newRow("-h") << QStringList{"-h"} << "-h";
    QTest::newRow("--help") << QStringList{"--help"} << "--help";
    QTest::newRow("-icon with a capital letter") << QStringList{"-Icon"} << "-Icon";
    QTest::newRow("-icon with more letters") << QStringList{"-icons"} << "-icons";
    QTest::newRow("a lone dash") << QStringList{"-"} << "-";
    QTest::newRow("unknown option after a directory")
        << QStringList{"/opt/corvane/zarvo", "-x"} << "-x";
    QTest::newRow("-icon after an unknown option") << QStringList{"-x", "-icon"} << "-x";
    QTest::newRow("-icon twice before an unknown option")
        << QStringList{"-icon", "-icon", "--verbose"} << "--verbose";
    QTest::newRow("a directory after an unknown option")
        << QStringList{"-y", "/opt/corvane/zarvo"} << "-y";
    QTest::newRow("the toolkit takes out its own options first")
        << QStringList{"-reverse", "-h"} << "-h";
    QTest::newRow("option that looks like a placeholder") << QStringList{"-%1 %2"} << "-%1 %2";
    // Passed as Latin-1 to a program that decodes UTF-8: the byte 0xe9 alone
    // is no character, and the name would change on its way.
    QTest::newRow("directory not valid in the local encoding")
        << QStringList{QStringLiteral("/opt/caf\u00e9")} << QString();
}

void TestInstallerProgram::unknownOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, option);
    REQUIRE_DISPLAY();

    // The refusal comes before the source search: run where there is nothing
    // to find, so that a box would hold the program up.
    const QString program = QStringLiteral(ZARVO_INSTALLER_PROGRAM);
    QTextCodec *localCodec = QTextCodec::codecForLocale();
    if (option.isNull())
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    const Run result = run(program, arguments, QString(), environment());
    QTextCodec::setCodecForLocale(localCodec);
    QVERIFY2(result.finished, qPrintable(result.why));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.error,
             option.isNull() ? QStringLiteral("Install directory \"/opt/caf\\xe9\" is not valid in "
                                              "the character encoding of this system.\n")
                             : usage(option, program));
    QCOMPARE(result.output, QString());
    QCOMPARE(result.exitCode, 1);
}

void TestInstallerProgram::missingFiles_data()
{
    QTest::addColumn<bool>("buildTree");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no arguments") << false << QStringList();
    QTest::newRow("a directory") << false << QStringList{"/opt/corvane/zarvo"};
    QTest::newRow("-icon") << false << QStringList{"-icon"};
    QTest::newRow("-icon twice and a directory")
        << false << QStringList{"-icon", "/opt/corvane/zarvo", "-icon"};
    QTest::newRow("the program of the build tree") << true << QStringList();
}

void TestInstallerProgram::missingFiles()
{
    QFETCH(bool, buildTree);
    QFETCH(QStringList, arguments);
    REQUIRE_DISPLAY();
    if (xdotool.isEmpty())
        QSKIP("needs xdotool to answer the box");

    QString program;
    if (buildTree) {
        program = QStringLiteral(ZARVO_INSTALLER_PROGRAM);
        const QString build = QFileInfo(QFileInfo(program).path()).path();
        if (QFileInfo::exists(build + QStringLiteral("/zarvo.tgz"))
            || QFileInfo::exists(build + QStringLiteral("/bin/pesk")))
            QSKIP("the build tree holds installation files itself");
    } else {
        program = copyProgram(root + QStringLiteral("/elsewhere/bin"), true);
        QVERIFY(!program.isEmpty());
    }

    const Run result = run(program, arguments, QStringLiteral("Missing Installation Files"),
                           environment());
    QVERIFY2(result.finished, qPrintable(result.why));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.error, QString());
    QCOMPARE(result.exitCode, 1);
}

void TestInstallerProgram::licenceTextsMissing()
{
    REQUIRE_DISPLAY();
    if (xdotool.isEmpty())
        QSKIP("needs xdotool to answer the box");

    const QString program = copyProgram(root + QStringLiteral("/tree/bin"), true);
    QVERIFY(!program.isEmpty());
    QVERIFY(TestEnvironment::writeScript(root + QStringLiteral("/tree/bin/pesk"), "#!/bin/sh\n"));

    const Run result = run(program, {}, QStringLiteral("Missing Installation Files"), environment());
    QVERIFY2(result.finished, qPrintable(result.why));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 1);
}

void TestInstallerProgram::iconOnly_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("-icon") << QStringList{"-icon"};
    QTest::newRow("-icon twice") << QStringList{"-icon", "-icon"};
    QTest::newRow("-icon and a directory") << QStringList{"-icon", "/opt/corvane/zarvo"};
    QTest::newRow("a directory and -icon") << QStringList{"/opt/corvane/zarvo", "-icon"};
}

// The console branch registers the installation that holds the program, not
// a directory from the command line, and ends without a window. The
// installation's own tools are fakes that note how they were called.
void TestInstallerProgram::iconOnly()
{
    QFETCH(QStringList, arguments);
    REQUIRE_DISPLAY();

    const QString top = root + QStringLiteral("/tree");
    const QString program = copyProgram(top + QStringLiteral("/bin"), true);
    QVERIFY(!program.isEmpty());
    QVERIFY(TestEnvironment::writeScript(top + QStringLiteral("/bin/pesk"), "#!/bin/sh\n"));
    // Marks a build tree, whose desktop entry is left as it is.
    QVERIFY(TestEnvironment::writeScript(top + QStringLiteral("/Makefile"), "all:\n"));
    QVERIFY(QDir().mkpath(top + QStringLiteral("/icons")));
    QVERIFY(QDir().mkpath(top + QStringLiteral("/libexec")));
    const QByteArray log = QFile::encodeName(root + QStringLiteral("/tools.log"));
    for (const char *tool : {"xdg-icon-resource", "xdg-desktop-menu"}) {
        QVERIFY(TestEnvironment::writeScript(
            top + QStringLiteral("/libexec/") + QLatin1String(tool),
            QByteArray("#!/bin/sh\necho \"") + tool + " $*\" >> '" + log + "'\n"));
    }

    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("KDE_FULL_SESSION"), QStringLiteral("true"));
    const Run result = run(program, arguments, QString(), env);
    QVERIFY2(result.finished, qPrintable(result.why));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.error, QString());
    QCOMPARE(result.exitCode, 0);

    QFile calls(QFile::decodeName(log));
    QVERIFY2(calls.open(QIODevice::ReadOnly), "the installation's tools were not run");
    const QStringList lines = QString::fromLocal8Bit(calls.readAll()).split(QLatin1Char('\n'));
    QVERIFY2(lines.contains(QStringLiteral("xdg-desktop-menu install %1/icons/corvane-zarvo.desktop")
                                .arg(top)),
             qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY2(lines.contains(QStringLiteral("xdg-icon-resource install --size 16 "
                                           "%1/icons/16x16/corvane-zarvo.png")
                                .arg(top)),
             qPrintable(lines.join(QLatin1Char('\n'))));
}

void TestInstallerProgram::noDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("loggingRules");

    QTest::newRow("no arguments") << QStringList() << QString();
    QTest::newRow("-icon") << QStringList{"-icon"} << QString();
    QTest::newRow("a directory") << QStringList{"/opt/corvane/zarvo"} << QString();
    QTest::newRow("an unknown option is never read") << QStringList{"-h"} << QString();
    QTest::newRow("debug output switched off") << QStringList() << "*.debug=false";
}

void TestInstallerProgram::noDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, loggingRules);

    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!loggingRules.isNull())
        env.insert(QStringLiteral("QT_LOGGING_RULES"), loggingRules);
    const Run result = run(QStringLiteral(ZARVO_INSTALLER_PROGRAM), arguments, QString(), env);
    QVERIFY2(result.finished, qPrintable(result.why));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.error, QStringLiteral("Unable to connect to display.\n"));
    QCOMPARE(result.exitCode, 1);
}

void TestInstallerProgram::pluginLacksLibrary_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("-icon") << QStringList{"-icon"};
}

// A copy of the real xcb plug-in that needs one more library than the machine
// has, beside a copy of the program where the toolkit finds no other.
void TestInstallerProgram::pluginLacksLibrary()
{
    QFETCH(QStringList, arguments);
    REQUIRE_DISPLAY();
    const QString patchelf = QStandardPaths::findExecutable(QStringLiteral("patchelf"));
    if (patchelf.isEmpty())
        QSKIP("needs patchelf to make a plug-in that lacks a library");

    const QString bin = root + QStringLiteral("/damaged/bin");
    const QString program = copyProgram(bin, false);
    QVERIFY(!program.isEmpty());
    const QString plugin = bin + QStringLiteral("/platforms/libqxcb.so");
    QVERIFY(QDir().mkpath(bin + QStringLiteral("/platforms")));
    QVERIFY(QFile::copy(systemPluginDir() + QStringLiteral("/platforms/libqxcb.so"), plugin));
    QCOMPARE(QProcess::execute(patchelf, {QStringLiteral("--add-needed"),
                                          QString::fromLatin1(patchedLibrary), plugin}),
             0);

    const Run result = run(program, arguments, QString(), environment());
    QVERIFY2(result.finished, qPrintable(result.why));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 1);

    const QStringList lines = result.error.split(QLatin1Char('\n'));
    const QStringList head{QStringLiteral("Unable to load Qt QPA plugin."), QString(),
                           QStringLiteral("These dependencies could not be found:"),
                           QString::fromLatin1(patchedLibrary), QString()};
    QVERIFY2(lines.size() == head.size() + 2, qPrintable(result.error));
    QCOMPARE(lines.mid(0, head.size()), head);
    const QString last = lines.at(head.size());
    QVERIFY2(last.startsWith(QLatin1String("Message returned: 'Could not load the Qt platform plugin"))
                 && last.endsWith(QLatin1Char('\'')),
             qPrintable(last));
    QCOMPARE(lines.last(), QString());
}

void TestInstallerProgram::pluginNotFound_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("-icon") << QStringList{"-icon"};
}

// A damaged installation without its plug-in folder: the toolkit gives up
// with a fatal message, which must reach the user before the abort.
void TestInstallerProgram::pluginNotFound()
{
    QFETCH(QStringList, arguments);
    REQUIRE_DISPLAY();

    const QString program = copyProgram(root + QStringLiteral("/damaged/bin"), false);
    QVERIFY(!program.isEmpty());

    const Run result = run(program, arguments, QString(), environment());
    QVERIFY2(result.finished, qPrintable(result.why));
    QVERIFY2(result.exitStatus == QProcess::CrashExit || result.exitCode != 0,
             "the program ended as if it had succeeded");
    QVERIFY2(result.error.contains(QLatin1String("no Qt platform plugin could be initialized")),
             qPrintable(result.error));
}

void TestInstallerProgram::ownLibrariesFirst_data()
{
    QTest::addColumn<QStringList>("places");
    QTest::addColumn<QString>("expected");

    QTest::newRow("in lib/internal") << QStringList{"lib/internal"} << "lib/internal";
    QTest::newRow("beside the program") << QStringList{"bin"} << "bin";
    QTest::newRow("in both places") << QStringList{"bin", "lib/internal"} << "lib/internal";
}

// A shipped tree carries the toolkit's libraries in lib/internal; the program
// must take them before the machine's own.
void TestInstallerProgram::ownLibrariesFirst()
{
    QFETCH(QStringList, places);
    QFETCH(QString, expected);
    if (QStandardPaths::findExecutable(QStringLiteral("ldd")).isEmpty())
        QSKIP("this machine has no ldd");

    QString systemCore;
    const QStringList used =
        resolveLibraryDependencies(QStringLiteral(ZARVO_INSTALLER_PROGRAM), nullptr);
    for (const QString &path : used) {
        if (QFileInfo(path).fileName() == QLatin1String("libQt5Core.so.5"))
            systemCore = path;
    }
    QVERIFY2(!systemCore.isEmpty(), "the program does not use libQt5Core.so.5");

    const QString program = copyProgram(root + QStringLiteral("/shipped/bin"), false);
    QVERIFY(!program.isEmpty());
    for (const QString &place : qAsConst(places)) {
        const QString dir = root + QStringLiteral("/shipped/") + place;
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::copy(systemCore, dir + QStringLiteral("/libQt5Core.so.5")));
    }

    const QStringList resolved = resolveLibraryDependencies(program, nullptr);
    QVERIFY2(resolved.contains(root + QStringLiteral("/shipped/") + expected
                               + QStringLiteral("/libQt5Core.so.5")),
             qPrintable(resolved.join(QLatin1Char(' '))));
}

ZARVO_TEST_MAIN_CORE(TestInstallerProgram)
#include "tst_installerprogram.moc"
