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

// Reads what a clean shell prints; its error output goes after a line "--".
QString runClean(const QStringList &shell, const QString &script,
                 const QMap<QString, QString> &variables)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), TestEnvironment::home());
    for (auto it = variables.cbegin(); it != variables.cend(); ++it)
        environment.insert(it.key(), it.value());
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(shell.first(), shell.mid(1) + QStringList{QStringLiteral("-c"), script});
    if (!process.waitForFinished(60000))
        return QStringLiteral("-- the shell did not end");
    return QString::fromLocal8Bit(process.readAllStandardOutput()) + QStringLiteral("--\n")
        + QString::fromLocal8Bit(process.readAllStandardError());
}

} // namespace

class TestModuleSystems : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void moduleSystems_data();
    void moduleSystems();
    void shellScripts_data();
    void shellScripts();

private:
    void check(const QString &output, bool secondMayReplace);

    QTemporaryDir m_root;
    QMap<QString, QString> m_variables;
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
    run.closeInput();
    QVERIFY2(run.finish(60000), "the installation did not end");
    QVERIFY2(run.exitStatus() == 0, run.errorOutput().constData());

    // Another version of the suite, in both module trees and with its own scripts.
    const SetupInstallation other{second, QStringLiteral("26.0"), QString()};
    QVERIFY(Fixture::writeFile(second + QStringLiteral("/bin/pesk"), "#!/bin/sh\necho 26.0\n", true));
    for (const QString &modules : {site, installation + QStringLiteral("/modulefiles")})
        QVERIFY(Fixture::writeFile(modules + QStringLiteral("/corvane-zarvo/26.0"),
                                   moduleFileText(other).toLocal8Bit()));
    QVERIFY(Fixture::writeFile(second + QStringLiteral("/etc/profile.d/corvane-zarvo.sh"),
                               shSetupText(other).toLocal8Bit()));
    QVERIFY(Fixture::writeFile(second + QStringLiteral("/etc/profile.d/corvane-zarvo.csh"),
                               cshSetupText(other).toLocal8Bit()));
    m_variables = {{QStringLiteral("ZARVO"), installation}, {QStringLiteral("SECOND"), second},
                   {QStringLiteral("SITE"), site}, {QStringLiteral("MODULECMD"), moduleCommand}};
}

// The first version's programs, root and manual pages; then, after the
// second version was asked for, never both on PATH.
void TestModuleSystems::check(const QString &output, bool secondMayReplace)
{
    const QString installation = m_variables.value(QStringLiteral("ZARVO"));
    for (const QString &line : {QStringLiteral("pesk=%1/bin/pesk"), QStringLiteral("root=%1"),
                                QStringLiteral("man=%1/share/man"), QStringLiteral("pesk")})
        QVERIFY2(output.contains(QLatin1Char('\n') + line.arg(installation) + QLatin1Char('\n')),
                 qPrintable(output));
    const QString path = output.section(QStringLiteral("second="), 1).section(QLatin1Char('\n'), 0, 0);
    const int first = path.count(installation + QStringLiteral("/bin"));
    const int second = path.count(m_variables.value(QStringLiteral("SECOND")) + QStringLiteral("/bin"));
    QVERIFY2(first + second == 1 && (first == 1 || secondMayReplace), qPrintable(output));
}

void TestModuleSystems::moduleSystems_data()
{
    QTest::addColumn<QString>("init");
    QTest::addColumn<QString>("tree");
    QTest::addColumn<bool>("secondReplaces");

    const QString lmod = QStringLiteral(". %1").arg(QLatin1String(lmodInit));
    const QString modules = QStringLiteral("module() { eval \"$(tclsh \"$MODULECMD\" bash \"$@\")\"; }");
    // Lmod swaps versions of one name; Environment Modules refuses the second.
    QTest::newRow("Lmod, the installation's tree") << lmod << "$ZARVO/modulefiles" << true;
    QTest::newRow("Lmod, the site's tree") << lmod << "$SITE" << true;
    QTest::newRow("Environment Modules, the installation's tree")
        << modules << "$ZARVO/modulefiles" << false;
    QTest::newRow("Environment Modules, the site's tree") << modules << "$SITE" << false;
}

void TestModuleSystems::moduleSystems()
{
    QFETCH(QString, init);
    QFETCH(QString, tree);
    QFETCH(bool, secondReplaces);
    QVERIFY2(QFileInfo::exists(QLatin1String(lmodInit)), "lmod is missing: scripts/test installs it");
    QVERIFY2(QFileInfo::exists(QLatin1String(moduleCommand)),
             "Environment Modules is missing: scripts/test unpacks it");

    const QString script = init + QStringLiteral("\nmodule use \"%1\"\nbefore=$PATH\n").arg(tree)
        + QStringLiteral("module load corvane-zarvo/25.1.3\n"
                         "echo; echo \"pesk=$(command -v pesk)\"; echo \"root=$CORVANE_ZARVO_ROOT\"\n"
                         "echo \"man=$MANPATH\"; pesk\n"
                         "module load corvane-zarvo/26.0\n"
                         "echo \"second=$PATH\"\n"
                         "module unload corvane-zarvo\n"
                         "[ \"$PATH\" = \"$before\" ] && echo PATH restored\n"
                         "echo \"root after=${CORVANE_ZARVO_ROOT-}\"\n");
    const QString output = runClean({QStringLiteral("bash"), QStringLiteral("--noprofile"),
                                     QStringLiteral("--norc")},
                                    script, m_variables);
    check(output, secondReplaces);
    QVERIFY2(output.contains(QLatin1String("\nPATH restored\nroot after=\n")), qPrintable(output));
}

void TestModuleSystems::shellScripts_data()
{
    QTest::addColumn<QStringList>("shell");
    QTest::addColumn<QString>("source");

    const QString sh = QStringLiteral(". \"$%1/etc/profile.d/corvane-zarvo.sh\"\n");
    const QString csh = QStringLiteral("source \"$%1/etc/profile.d/corvane-zarvo.csh\"\n");
    QTest::newRow("sh") << QStringList{QStringLiteral("sh")} << sh;
    QTest::newRow("bash") << QStringList{QStringLiteral("bash"), QStringLiteral("--norc")} << sh;
    QTest::newRow("tcsh") << QStringList{QStringLiteral("tcsh"), QStringLiteral("-f")} << csh;
    QTest::newRow("BSD csh") << QStringList{QStringLiteral("bsd-csh"), QStringLiteral("-f")} << csh;
}

void TestModuleSystems::shellScripts()
{
    QFETCH(QStringList, shell);
    QFETCH(QString, source);

    // Sourced twice, which changes nothing, then the other version's, which
    // says why it changes nothing.
    const QString script = source.arg(QStringLiteral("ZARVO")) + source.arg(QStringLiteral("ZARVO"))
        + QStringLiteral("sh -c 'echo; echo \"pesk=$(command -v pesk)\"; "
                         "echo \"root=$CORVANE_ZARVO_ROOT\"; echo \"man=$MANPATH\"'\npesk\n")
        + source.arg(QStringLiteral("SECOND")) + QStringLiteral("sh -c 'echo \"second=$PATH\"'\n");
    const QString output = runClean(shell, script, m_variables);
    check(output, false);
    QVERIFY2(output.contains(QStringLiteral("corvane-zarvo: %1 is set up in this shell already")
                                 .arg(m_variables.value(QStringLiteral("ZARVO")))),
             qPrintable(output));
}

ZARVO_TEST_MAIN_CORE(TestModuleSystems)
#include "tst_modulesystems.moc"
