// The text installer's conversation before anything is installed: command
// line, missing installation files, licence, destination.
#include "fixture.h"
#include "programrun.h"

#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

const int runTimeoutMs = 20000;

} // namespace

class TestTextInstallSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void commandLine_data();
    void commandLine();
    void missingFiles_data();
    void missingFiles();
    void licenceWithoutTerminal_data();
    void licenceWithoutTerminal();
    void licenceOnTerminal_data();
    void licenceOnTerminal();
    void licenceThroughPager();
    void questionsWithOutputToALog();
    void destinationArgument_data();
    void destinationArgument();
    void destinationPrompt();
    void allUsersNeedsRoot();

private:
    QTemporaryDir m_root;
    QString m_tree;
};

void TestTextInstallSession::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY2(QFileInfo(textInstallProgram()).isExecutable(), qPrintable(textInstallProgram()));
    m_tree = m_root.filePath(QStringLiteral("tree"));
    QString why;
    QVERIFY2(Fixture::writeTree(m_tree, Fixture::Plain, &why), qPrintable(why));
}

void TestTextInstallSession::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("expectedOut");
    QTest::addColumn<QByteArray>("expectedErr");

    const QByteArray program = QFile::encodeName(textInstallProgram());
    const QByteArray usage = "Usage: " + program + " [options] [install-directory]\n       "
        + program + " --uninstall DIR [--yes] [--purge]\n";
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0
                          << usage + "       " + program + " --verify DIR [--added]\n"
                          << QByteArray();
    QTest::newRow("help wins over a directory")
        << QStringList{QStringLiteral("/tmp/x"), QStringLiteral("--help")} << 0 << usage
        << QByteArray();
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--frobnicate")} << 2 << QByteArray()
        << "Unknown option \"--frobnicate\".\n" + usage;
    QTest::newRow("unknown option after help")
        << QStringList{QStringLiteral("--help"), QStringLiteral("-v")} << 2 << QByteArray()
        << QByteArray("Unknown option \"-v\".");
    QTest::newRow("the graphical installer's option")
        << QStringList{QStringLiteral("-icon")} << 2 << QByteArray()
        << QByteArray("Unknown option \"-icon\".");
    QTest::newRow("a lone dash") << QStringList{QStringLiteral("-")} << 2 << QByteArray()
                                 << QByteArray("Unknown option \"-\".");
    QTest::newRow("--group without its value")
        << QStringList{QStringLiteral("--group")} << 2 << QByteArray()
        << QByteArray("The option \"--group\" needs a value.");
    QTest::newRow("--group that does not exist")
        << QStringList{QStringLiteral("--group=no-such-group-zarvo")} << 1 << QByteArray()
        << QByteArray("There is no group \"no-such-group-zarvo\" on this machine.");
    QTest::newRow("--modulefiles that does not exist")
        << QStringList{QStringLiteral("--modulefiles"), QStringLiteral("/no/such/tree")} << 1
        << QByteArray() << QByteArray("The module directory \"/no/such/tree\" does not exist.");
    QTest::newRow("versions") << QStringList{QStringLiteral("--version")} << 0
                              << QByteArray("textinstall 25.1.3, the installer of Corvane Zarvo 25.1.3\n")
                              << QByteArray();
    QTest::newRow("--check without installation files")
        << QStringList{QStringLiteral("--check")} << 1 << QByteArray()
        << QByteArray("Corvane Zarvo installation files not found in");
    QTest::newRow("two actions")
        << QStringList{QStringLiteral("--verify=/opt/z"), QStringLiteral("--uninstall=/opt/z")} << 2
        << QByteArray()
        << QByteArray("The options \"--uninstall\" and \"--verify\" cannot be used together.\n")
            + usage;
    QTest::newRow("licence spelt the other way")
        << QStringList{QStringLiteral("--accept-license")} << 2 << QByteArray()
        << QByteArray("Unknown option \"--accept-license\".");
}

void TestTextInstallSession::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, expectedOut);
    QFETCH(QByteArray, expectedErr);

    QTemporaryDir empty;
    ProgramRun run(ProgramRun::Pipes, empty.path(), arguments, Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
    QCOMPARE(run.exitStatus(), status);
    if (expectedOut.isEmpty())
        QVERIFY2(run.output().isEmpty(), run.output().constData());
    else
        QVERIFY2(run.output().contains(expectedOut), run.output().constData());
    if (expectedErr.isEmpty())
        QVERIFY2(run.errorOutput().isEmpty(), run.errorOutput().constData());
    else
        QVERIFY2(run.errorOutput().contains(expectedErr), run.errorOutput().constData());
}

void TestTextInstallSession::missingFiles_data()
{
    QTest::addColumn<QString>("missingLicenceFile");
    QTest::addColumn<bool>("withSource");

    QTest::newRow("no installation files anywhere") << QString() << false;
    QTest::newRow("licence agreement missing")
        << QStringLiteral("license_agreement.txt") << true;
    QTest::newRow("supplementary terms missing")
        << QStringLiteral("supplementary_terms.txt") << true;
}

void TestTextInstallSession::missingFiles()
{
    QFETCH(QString, missingLicenceFile);
    QFETCH(bool, withSource);

    QTemporaryDir work;
    QString expectedDirectory = QFileInfo(textInstallProgram()).absolutePath();
    if (withSource) {
        QString why;
        QVERIFY2(Fixture::writeTree(work.path(), Fixture::Plain, &why), qPrintable(why));
        QVERIFY(Fixture::removeLicenceFile(work.path(), missingLicenceFile));
        expectedDirectory = work.path();
    }
    const QString destination = work.filePath(QStringLiteral("dest"));
    ProgramRun run(ProgramRun::Pipes, work.path(),
                   {QStringLiteral("--accept-licence"), QStringLiteral("--yes"), destination},
                   Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
    QCOMPARE(run.exitStatus(), 1);
    const QByteArray expected = "Corvane Zarvo installation files not found in \""
        + QFile::encodeName(expectedDirectory) + "\".\n";
    QCOMPARE(run.errorOutput(), expected);
    QVERIFY(!QFileInfo::exists(destination));
}

void TestTextInstallSession::licenceWithoutTerminal_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no options") << QStringList();
    QTest::newRow("only --yes") << QStringList{QStringLiteral("--yes")};
}

void TestTextInstallSession::licenceWithoutTerminal()
{
    QFETCH(QStringList, arguments);

    QTemporaryDir work;
    const QString destination = work.filePath(QStringLiteral("dest"));
    // Standard input stays open: a program that waited for an answer would never end.
    ProgramRun run(ProgramRun::Pipes, m_tree, arguments + QStringList{destination},
                   Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.finish(runTimeoutMs), "the program waited for input that never comes");
    QCOMPARE(run.exitStatus(), 1);
    QVERIFY2(run.errorOutput().contains("--accept-licence"), run.errorOutput().constData());
    QVERIFY2(!run.output().contains("LICENCE AGREEMENT"), run.output().constData());
    QVERIFY(!QFileInfo::exists(destination));
}

void TestTextInstallSession::licenceOnTerminal_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("status");

    QTest::newRow("yes") << QByteArray("yes\r") << true << 1;
    QTest::newRow("YES in capitals, blanks around") << QByteArray("  YES \r") << true << 1;
    QTest::newRow("no") << QByteArray("no\r") << false << 1;
    QTest::newRow("y is not enough") << QByteArray("y\r") << false << 1;
    QTest::newRow("empty answer") << QByteArray("\r") << false << 1;
    QTest::newRow("end of input") << QByteArray("\x04") << false << 1;
    QTest::newRow("Ctrl-C") << QByteArray("\x03") << false << 130;
}

void TestTextInstallSession::licenceOnTerminal()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, accepted);
    QFETCH(int, status);

    ProgramRun run(ProgramRun::Terminal, m_tree, QStringList(), Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.waitForOutput("Type \"yes\" to accept: ", runTimeoutMs), run.output().constData());
    // Printed without a pager: both texts, the supplementary terms after the licence.
    const QByteArray shown = run.output();
    const int licenceAt = shown.indexOf("CORVANE ZARVO LICENCE AGREEMENT");
    const int termsAt = shown.indexOf("SUPPLEMENTARY TERMS");
    QVERIFY2(licenceAt >= 0 && termsAt > licenceAt, shown.constData());
    QVERIFY2(!shown.contains('\x0c'), "a form feed reached the terminal");

    const int mark = run.output().size();
    run.send(answer);
    if (accepted) {
        // Accepted: the next question is the destination; ending the input there stops it.
        QVERIFY2(run.waitForOutput("Install Corvane Zarvo to: [", runTimeoutMs, mark),
                 run.output().constData());
        run.send("\x04");
        QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
        QVERIFY2(run.output().contains("No destination directory was given."),
                 run.output().constData());
    } else {
        QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
        const QByteArray expected = status == 130 ? "The installation was cancelled."
                                                  : "The licence agreement was not accepted";
        QVERIFY2(run.output().contains(expected), run.output().constData());
        QVERIFY2(!run.output().contains("Install Corvane Zarvo to:"), run.output().constData());
    }
    QCOMPARE(run.exitStatus(), status);
}

void TestTextInstallSession::licenceThroughPager()
{
    QTemporaryDir work;
    const QString pagerOutput = work.filePath(QStringLiteral("paged.txt"));
    const QString pager = work.filePath(QStringLiteral("my pager"));
    QVERIFY(Fixture::writeFile(pager, "#!/bin/sh\n[ \"$1\" = \"-R\" ] || exit 3\ncat > \"$2\"\n",
                               true));
    QProcessEnvironment environment = Fixture::environment();
    environment.insert(QStringLiteral("PAGER"),
                       QStringLiteral("\"%1\" -R %2").arg(pager, pagerOutput));

    ProgramRun run(ProgramRun::Terminal, m_tree, QStringList(), environment);
    QVERIFY(run.start());
    QVERIFY2(run.waitForOutput("Type \"yes\" to accept: ", runTimeoutMs), run.output().constData());
    run.send("no\r");
    QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
    QCOMPARE(run.exitStatus(), 1);

    const QByteArray expected = QByteArray(Fixture::licenceText) + "\n\n"
        + QByteArray(Fixture::supplementaryText).replace('\f', '\n');
    QCOMPARE(Fixture::readFile(pagerOutput), expected);
    QVERIFY2(!run.output().contains("CORVANE ZARVO LICENCE AGREEMENT"),
             "the licence was printed although the pager showed it");
}

void TestTextInstallSession::questionsWithOutputToALog()
{
    // textinstall > install.log on a terminal: the person at the terminal
    // must still see the licence and the question.
    QTemporaryDir work;
    const QString log = work.filePath(QStringLiteral("install.log"));
    QProcessEnvironment environment = Fixture::environment();
    environment.insert(QStringLiteral("PAGER"), QStringLiteral("cat"));
    ProgramRun run(ProgramRun::Terminal, m_tree, QStringList(), environment);
    run.setOutputFile(log);
    QVERIFY(run.start());
    QVERIFY2(run.waitForOutput("Type \"yes\" to accept: ", runTimeoutMs), run.output().constData());
    QVERIFY2(run.output().contains("CORVANE ZARVO LICENCE AGREEMENT"), run.output().constData());
    run.send("no\r");
    QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
    QCOMPARE(run.exitStatus(), 1);
    const QByteArray logged = Fixture::readFile(log);
    QVERIFY2(!logged.contains("Type \"yes\""), logged.constData());
    QVERIFY2(!logged.contains("LICENCE AGREEMENT"), logged.constData());
}

void TestTextInstallSession::destinationArgument_data()
{
    QTest::addColumn<QString>("destination");
    QTest::newRow("a blank") << QStringLiteral("/tmp/my tools");
    QTest::newRow("a tab") << QStringLiteral("/tmp/my\ttools");
    QTest::newRow("a trailing line feed") << QStringLiteral("/tmp/tools\n");
    QTest::newRow("empty") << QString(QLatin1String(""));
}

void TestTextInstallSession::destinationArgument()
{
    QFETCH(QString, destination);

    ProgramRun run(ProgramRun::Pipes, m_tree,
                   {QStringLiteral("--accept-licence"), QStringLiteral("--yes"), destination},
                   Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
    QCOMPARE(run.exitStatus(), 1);
    QVERIFY2(run.errorOutput().contains("Note: this directory path must not contain whitespace."),
             run.errorOutput().constData());
    QVERIFY2(!run.errorOutput().contains('\t'), "a control character reached standard error");
    if (!destination.isEmpty())
        QVERIFY(!QFileInfo::exists(destination));
}

void TestTextInstallSession::destinationPrompt()
{
    const QString expectedDefault = ::getuid() == 0
        ? QStringLiteral("/opt/corvane/zarvo/25.1.3")
        : TestEnvironment::home() + QStringLiteral("/corvane/zarvo/25.1.3");

    ProgramRun run(ProgramRun::Terminal, m_tree, {QStringLiteral("--accept-licence")},
                   Fixture::environment());
    QVERIFY(run.start());
    const QByteArray question = "Install Corvane Zarvo to: [" + expectedDefault.toUtf8() + "] ";
    QVERIFY2(run.waitForOutput(question, runTimeoutMs), run.output().constData());
    int mark = run.output().size();
    run.send("/tmp/with blank\r");
    QVERIFY2(run.waitForOutput("must not contain whitespace", runTimeoutMs, mark),
             run.output().constData());
    // Asked again, not given up.
    QVERIFY2(run.waitForOutput(question, runTimeoutMs, mark), run.output().constData());
    mark = run.output().size();
    run.send("\x04");
    QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
    QCOMPARE(run.exitStatus(), 1);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/with blank")));
}

void TestTextInstallSession::allUsersNeedsRoot()
{
    QTemporaryDir work;
    QVERIFY(QFile::setPermissions(work.path(), QFile::ReadOwner | QFile::WriteOwner
                                                   | QFile::ExeOwner | QFile::ReadOther
                                                   | QFile::WriteOther | QFile::ExeOther));
    const QString destination = work.filePath(QStringLiteral("zarvo"));
    QStringList arguments{QStringLiteral("--accept-licence"), QStringLiteral("--all-users"),
                          destination};
    QString program = textInstallProgram();
    if (::getuid() == 0) {
        // Run the check as an ordinary user.
        program = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (program.isEmpty())
            QSKIP("running as root without setpriv to become another user");
        arguments = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                QStringLiteral("--clear-groups"), textInstallProgram()}
            + arguments;
    }
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.setProcessEnvironment(Fixture::environment());
    process.start(program, arguments);
    QVERIFY2(process.waitForFinished(runTimeoutMs), "the program did not end");
    QCOMPARE(process.exitCode(), 1);
    QVERIFY2(process.readAllStandardError().contains("must be done as root"), "no reason given");
    QVERIFY(!QFileInfo::exists(destination));
}

ZARVO_TEST_MAIN_CORE(TestTextInstallSession)
#include "tst_textinstall_session.moc"
