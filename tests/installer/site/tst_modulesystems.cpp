// What an installation writes for a cluster, used as a site uses it: the real
// Lmod and Environment Modules on the modulefile, sh and the C shells on the
// set-up scripts, each in a clean shell that knows only PATH and HOME.
#include "installer/site/setuptexts.h"
#include "tests/support/testenvironment.h"
#include "tests/textinstall/fixture.h"
#include "tests/textinstall/programrun.h"

#include <QDir>
#include <QProcess>

namespace {

const char lmodInit[] = "/usr/share/lmod/lmod/init/bash";
// Unpacked by scripts/test (ensure_environment_modules): it conflicts with Lmod.
const char moduleCommand[] = ZARVO_SOURCE_DIR "/out/environment-modules/usr/lib/modulecmd.tcl";

} // namespace

class TestModuleSystems : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void setUp_data();
    void setUp();

private:
    QTemporaryDir m_root;
    QProcessEnvironment m_clean;
};

void TestModuleSystems::initTestCase()
{
    const QString tree = m_root.filePath(QStringLiteral("tree"));
    const QString installation = m_root.filePath(QStringLiteral("zarvo"));
    const QString site = m_root.filePath(QStringLiteral("site"));
    const QString second = m_root.filePath(QStringLiteral("second"));
    QString why;
    QVERIFY2(Fixture::writeTree(tree, Fixture::Plain, &why), qPrintable(why));
    QVERIFY(Fixture::writeFile(tree + QStringLiteral("/share/man/man1/pesk.1"), ".TH PESK 1\n"));
    QVERIFY(QDir().mkpath(site));
    ProgramRun run(ProgramRun::Pipes, tree,
                   {QStringLiteral("--accept-licence"), QStringLiteral("--modulefiles=") + site,
                    installation},
                   Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.finish(60000) && run.exitStatus() == 0, run.errorOutput().constData());

    // Another version of the suite, in both module trees and with its own scripts.
    const SetupInstallation other{second, QStringLiteral("26.0"), QString()};
    const QMap<QString, QString> files{
        {second + QStringLiteral("/bin/pesk"), QStringLiteral("#!/bin/sh\n")},
        {site + QStringLiteral("/corvane-zarvo/26.0"), moduleFileText(other)},
        {installation + QStringLiteral("/modulefiles/corvane-zarvo/26.0"), moduleFileText(other)},
        {second + QStringLiteral("/etc/profile.d/corvane-zarvo.sh"), shSetupText(other)},
        {second + QStringLiteral("/etc/profile.d/corvane-zarvo.csh"), cshSetupText(other)}};
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QVERIFY(Fixture::writeFile(it.key(), it.value().toLocal8Bit(), true));

    const QStringList clean{QStringLiteral("PATH=/usr/bin:/bin"), "HOME=" + TestEnvironment::home(),
                            "ZARVO=" + installation, "SECOND=" + second, "SITE=" + site,
                            QStringLiteral("MODULECMD=") + QLatin1String(moduleCommand)};
    for (const QString &variable : clean)
        m_clean.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
}

void TestModuleSystems::setUp_data()
{
    QTest::addColumn<QStringList>("shell");
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("secondReplaces");

    // Loads the first version, shows what it set up, asks for the second
    // version, shows PATH, and unloads.
    const QString show = QStringLiteral(
        "sh -c 'echo; echo \"pesk=$(command -v pesk)\"; echo \"root=$CORVANE_ZARVO_ROOT\"; "
        "echo \"man=$MANPATH\"'\npesk\n");
    const QString modules = QStringLiteral(
        "\nmodule use \"%1\"; before=$PATH\nmodule load corvane-zarvo/25.1.3\n%2"
        "module load corvane-zarvo/26.0\necho \"second=$PATH\"\nmodule unload corvane-zarvo\n"
        "[ \"$PATH\" = \"$before\" ] && echo \"restored=${CORVANE_ZARVO_ROOT-}\"\n");
    const QString lmod = QStringLiteral(". ") + QLatin1String(lmodInit) + modules;
    const QString environmentModules =
        QStringLiteral("module() { eval \"$(tclsh \"$MODULECMD\" bash \"$@\")\"; }") + modules;
    const QStringList bash{QStringLiteral("bash"), QStringLiteral("--noprofile"),
                           QStringLiteral("--norc")};
    // Lmod swaps two versions of one module; Environment Modules refuses the second.
    QTest::newRow("Lmod, the installation's tree")
        << bash << lmod.arg(QStringLiteral("$ZARVO/modulefiles"), show) << true;
    QTest::newRow("Lmod, the site's tree") << bash << lmod.arg(QStringLiteral("$SITE"), show) << true;
    QTest::newRow("Environment Modules, the installation's tree")
        << bash << environmentModules.arg(QStringLiteral("$ZARVO/modulefiles"), show) << false;
    QTest::newRow("Environment Modules, the site's tree")
        << bash << environmentModules.arg(QStringLiteral("$SITE"), show) << false;

    // Sourced twice, which changes nothing, then the second version's, which
    // says so and changes nothing either.
    const QString scripts = QStringLiteral("%1 \"$ZARVO/etc/profile.d/corvane-zarvo.%2\"\n"
                                           "%1 \"$ZARVO/etc/profile.d/corvane-zarvo.%2\"\n%3"
                                           "%1 \"$SECOND/etc/profile.d/corvane-zarvo.%2\"\n"
                                           "sh -c 'echo \"second=$PATH\"'\n");
    const QString sh = scripts.arg(QStringLiteral("."), QStringLiteral("sh"), show);
    const QString csh = scripts.arg(QStringLiteral("source"), QStringLiteral("csh"), show);
    QTest::newRow("sh") << QStringList{QStringLiteral("sh")} << sh << false;
    QTest::newRow("bash") << QStringList{QStringLiteral("bash"), QStringLiteral("--norc")} << sh
                          << false;
    QTest::newRow("tcsh") << QStringList{QStringLiteral("tcsh"), QStringLiteral("-f")} << csh
                          << false;
    QTest::newRow("BSD csh") << QStringList{QStringLiteral("bsd-csh"), QStringLiteral("-f")} << csh
                             << false;
}

void TestModuleSystems::setUp()
{
    QFETCH(QStringList, shell);
    QFETCH(QString, script);
    QFETCH(bool, secondReplaces);
    QVERIFY2(QFileInfo::exists(QLatin1String(lmodInit)), "no Lmod: scripts/test installs it");
    QVERIFY2(QFileInfo::exists(QLatin1String(moduleCommand)),
             "no Environment Modules: scripts/test unpacks it");

    QProcess process;
    process.setProcessEnvironment(m_clean);
    process.start(shell.first(), shell.mid(1) + QStringList{QStringLiteral("-c"), script});
    QVERIFY(process.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput() + "\n--\n"
                                                  + process.readAllStandardError());
    const QString installation = m_clean.value(QStringLiteral("ZARVO"));
    for (const QString &line : {QStringLiteral("pesk=%1/bin/pesk"), QStringLiteral("root=%1"),
                                QStringLiteral("man=%1/share/man"), QStringLiteral("pesk")})
        QVERIFY2(output.contains(QLatin1Char('\n') + line.arg(installation) + QLatin1Char('\n')),
                 qPrintable(output));
    // Never both versions on PATH.
    const QString path = output.section(QStringLiteral("second="), 1).section(QLatin1Char('\n'), 0, 0);
    const int first = path.count(installation + QStringLiteral("/bin"));
    const int second = path.count(m_clean.value(QStringLiteral("SECOND")) + QStringLiteral("/bin"));
    QVERIFY2(first + second == 1 && (first == 1 || secondReplaces), qPrintable(output));
    if (script.contains(QLatin1String("module unload")))
        QVERIFY2(output.contains(QLatin1String("\nrestored=\n")), qPrintable(output));
    else
        QVERIFY2(output.contains(QStringLiteral("corvane-zarvo: %1 is set up in this shell already")
                                     .arg(installation)),
                 qPrintable(output));
}

ZARVO_TEST_MAIN_CORE(TestModuleSystems)
#include "tst_modulesystems.moc"
