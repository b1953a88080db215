// Whole installations by the text installer: the result on disk, the
// destination question, interruption, progress output, the after-work, and
// what the program links.
#include "fixture.h"
#include "programrun.h"

#include "installer/transaction/installationrecord.h"
#include "tests/support/testenvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int runTimeoutMs = 60000;

QStringList installArguments(const QString &destination, const QStringList &more = QStringList())
{
    return QStringList{QStringLiteral("--accept-licence")} + more + QStringList{destination};
}

// What `script` (sh, $1 the installation) prints when nobody runs it, with
// the group `group` if any; "failed" when it fails.
QString asNobody(const QString &script, const QString &installation, const QString &group)
{
    QProcess process;
    process.start(QStringLiteral("setpriv"),
                  {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                   group.isEmpty() ? QStringLiteral("--clear-groups") : QStringLiteral("--groups=") + group,
                   QStringLiteral("sh"), QStringLiteral("-c"), script, QStringLiteral("sh"), installation});
    return process.waitForFinished(30000) && process.exitCode() == 0
        ? QString::fromLocal8Bit(process.readAllStandardOutput())
        : QStringLiteral("failed");
}

} // namespace

class TestTextInstallInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void fullInstall_data();
    void fullInstall();
    void licenceAcceptedOnTerminal();
    void existingDestination_data();
    void existingDestination();
    void errorsDuringInstall_data();
    void errorsDuringInstall();
    void interrupted_data();
    void interrupted();
    void progressOffTerminal();
    void progressOnTerminal_data();
    void progressOnTerminal();
    void afterWork_data();
    void afterWork();
    void permissions_data();
    void permissions();
    void linksNoGraphicsLibraries();
    void inspection_data();
    void inspection();
    void administration_data();
    void administration();
    void removalKilled();

private:
    QString source(const QString &kind) const;
    bool install(const QString &source, const QString &destination, QString *why,
                 const QStringList &options = {});

    QTemporaryDir m_root;
    QString m_tree;
    QString m_archiveSource;
    QString m_largeTree;
};

void TestTextInstallInstall::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY2(QFileInfo(textInstallProgram()).isExecutable(), qPrintable(textInstallProgram()));
    QString why;
    m_tree = m_root.filePath(QStringLiteral("tree"));
    QVERIFY2(Fixture::writeTree(m_tree, Fixture::Plain, &why), qPrintable(why));
    m_archiveSource = m_root.filePath(QStringLiteral("packed"));
    QVERIFY2(Fixture::writeArchiveSource(m_tree, m_archiveSource, &why), qPrintable(why));
    // Enough data that an interruption finds the copy running, also when the
    // kernel copies: 1000 MiB of holes, of which a run reads about 1% first.
    m_largeTree = m_root.filePath(QStringLiteral("large"));
    QVERIFY2(Fixture::writeTree(m_largeTree, Fixture::Plain, &why), qPrintable(why));
    QVERIFY2(Fixture::addLargeFiles(m_largeTree, 1000, 1024 * 1024, &why), qPrintable(why));
}

QString TestTextInstallInstall::source(const QString &kind) const
{
    return kind == QLatin1String("archive") ? m_archiveSource : m_tree;
}

void TestTextInstallInstall::fullInstall_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("from the unpacked tree") << QStringLiteral("tree");
    QTest::newRow("from the archive") << QStringLiteral("archive");
}

void TestTextInstallInstall::fullInstall()
{
    QFETCH(QString, kind);

    QTemporaryDir work;
    // Missing parents are created, as by the graphical installer.
    const QString destination = work.filePath(QStringLiteral("opt/zarvo"));
    ProgramRun run(ProgramRun::Pipes, source(kind), installArguments(destination),
                   Fixture::environment());
    QVERIFY(run.start());
    run.closeInput();
    QVERIFY2(run.finish(runTimeoutMs), "the installation did not end");
    QVERIFY2(run.errorOutput().isEmpty(), run.errorOutput().constData());
    QCOMPARE(run.exitStatus(), 0);
    QVERIFY2(run.output().endsWith("The installation is finished.\nCorvane Zarvo is installed in \""
                                   + QFile::encodeName(destination) + "\".\n"),
             run.output().constData());

    const QFileInfo marker(destination + QStringLiteral("/.installed"));
    QVERIFY(marker.isFile());
    QCOMPARE(marker.size(), 0);
    const QString differences =
        Fixture::compareTrees(m_tree, destination);
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
    const QString unrecorded = Fixture::checkRecord(destination);
    QVERIFY2(unrecorded.isEmpty(), qPrintable(unrecorded));
    QVERIFY(QFileInfo(destination + QStringLiteral("/.installation.log")).isFile());
}

void TestTextInstallInstall::licenceAcceptedOnTerminal()
{
    QTemporaryDir work;
    const QString destination = work.filePath(QStringLiteral("zarvo"));
    ProgramRun run(ProgramRun::Terminal, m_archiveSource, {destination}, Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.waitForOutput("Type \"yes\" to accept: ", runTimeoutMs), run.output().constData());
    QVERIFY(!QFileInfo::exists(destination));
    run.send("yes\r");
    QVERIFY2(run.finish(runTimeoutMs), "the installation did not end");
    QCOMPARE(run.exitStatus(), 0);
    QVERIFY2(run.output().contains("The installation is finished."), run.output().constData());
    const QString differences =
        Fixture::compareTrees(m_tree, destination);
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
}

void TestTextInstallInstall::existingDestination_data()
{
    QTest::addColumn<QString>("existing");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("yesOption");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("expected");

    const int pipes = ProgramRun::Pipes;
    const int terminal = ProgramRun::Terminal;
    QTest::newRow("no terminal, no --yes: refused")
        << "directory" << pipes << false << QByteArray() << 1 << QByteArray("--yes");
    QTest::newRow("no terminal, --yes: installed into it")
        << "directory" << pipes << true << QByteArray() << 0
        << QByteArray("The installation is finished.");
    QTest::newRow("terminal, answered y")
        << "directory" << terminal << false << QByteArray("y\r") << 0
        << QByteArray("The installation is finished.");
    QTest::newRow("terminal, answered no")
        << "directory" << terminal << false << QByteArray("no\r") << 1
        << QByteArray("The installation was cancelled.");
    QTest::newRow("terminal, input ended")
        << "directory" << terminal << false << QByteArray("\x04") << 1
        << QByteArray("The installation was cancelled.");
    QTest::newRow("a regular file, --yes: the engine's error")
        << "file" << pipes << true << QByteArray() << 1
        << QByteArray("Could not create destination directory");
}

void TestTextInstallInstall::existingDestination()
{
    QFETCH(QString, existing);
    QFETCH(int, mode);
    QFETCH(bool, yesOption);
    QFETCH(QByteArray, answer);
    QFETCH(int, status);
    QFETCH(QByteArray, expected);

    QTemporaryDir work;
    const QString destination = work.filePath(QStringLiteral("zarvo"));
    const QString kept = destination + QStringLiteral("/kept.txt");
    if (existing == QLatin1String("file"))
        QVERIFY(Fixture::writeFile(destination, "not a directory\n"));
    else
        QVERIFY(Fixture::writeFile(kept, "from before\n"));

    ProgramRun run(ProgramRun::Mode(mode), m_tree,
                   installArguments(destination, yesOption ? QStringList{QStringLiteral("--yes")}
                                                           : QStringList()),
                   Fixture::environment());
    QVERIFY(run.start());
    const QByteArray question = "Destination directory \"" + QFile::encodeName(destination)
        + "\" already exists. Do you wish to continue?";
    if (mode == ProgramRun::Terminal) {
        QVERIFY2(run.waitForOutput(question, runTimeoutMs), run.output().constData());
        run.send(answer);
    }
    QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
    const QByteArray all = run.output() + run.errorOutput();
    QVERIFY2(all.contains(question), all.constData());
    QVERIFY2(all.contains(expected), all.constData());
    QCOMPARE(run.exitStatus(), status);

    const bool installed = status == 0;
    QCOMPARE(QFileInfo::exists(destination + QStringLiteral("/.installed")), installed);
    if (existing == QLatin1String("directory"))
        QCOMPARE(Fixture::readFile(kept), QByteArray("from before\n"));
    else
        QCOMPARE(Fixture::readFile(destination), QByteArray("not a directory\n"));
}

void TestTextInstallInstall::errorsDuringInstall_data()
{
    QTest::addColumn<QString>("kind");

    // A directory of the site's where the installation has a file: nothing
    // is installed, the site's file stays.
    QTest::newRow("tree") << QStringLiteral("tree");
    QTest::newRow("archive") << QStringLiteral("archive");
}

void TestTextInstallInstall::errorsDuringInstall()
{
    QFETCH(QString, kind);

    QTemporaryDir work;
    const QString destination = work.filePath(QStringLiteral("zarvo"));
    QVERIFY(Fixture::writeFile(destination + QStringLiteral("/doc/RELEASE-NOTES/kept.txt"), "x"));
    ProgramRun run(ProgramRun::Pipes, source(kind),
                   installArguments(destination, {QStringLiteral("--yes")}),
                   Fixture::environment());
    QVERIFY(run.start());
    run.closeInput();
    QVERIFY2(run.finish(runTimeoutMs), "the installation did not end");
    QCOMPARE(run.exitStatus(), 1);
    QVERIFY2(run.errorOutput().contains("RELEASE-NOTES"), run.errorOutput().constData());
    QVERIFY2(!run.output().contains("The installation is finished."), run.output().constData());
    QVERIFY2(run.errorOutput().contains("There was an error during the installation.\n"
                                        "The log of this installation is in \""),
             run.errorOutput().constData());
    QCOMPARE(Fixture::countFiles(destination), 1);
    QCOMPARE(Fixture::readFile(destination + QStringLiteral("/doc/RELEASE-NOTES/kept.txt")),
             QByteArray("x"));
}

void TestTextInstallInstall::interrupted_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl-C") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestTextInstallInstall::interrupted()
{
    QFETCH(int, signalNumber);

    QTemporaryDir work;
    const QString destination = work.filePath(QStringLiteral("zarvo"));
    ProgramRun run(ProgramRun::Pipes, m_largeTree, installArguments(destination),
                   Fixture::environment());
    QVERIFY(run.start());
    // The large files sort before the small ones; once one is reported, the copy is under way.
    QVERIFY2(run.waitForOutput("part-0", runTimeoutMs), run.output().constData());
    QVERIFY(run.signal(signalNumber));
    QVERIFY2(run.finish(runTimeoutMs), "the program did not stop");
    QCOMPARE(run.exitStatus(), 130);
    QVERIFY2(run.errorOutput().contains("The installation was cancelled.\n"
                                        "The log of this installation is in \""),
             run.errorOutput().constData());
    QVERIFY2(!run.output().contains("The installation is finished."), run.output().constData());
    // Undone whole, with nothing of it left beside.
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void TestTextInstallInstall::progressOffTerminal()
{
    QTemporaryDir work;
    const QString destination = work.filePath(QStringLiteral("zarvo"));
    ProgramRun run(ProgramRun::Pipes, m_tree, installArguments(destination),
                   Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.finish(runTimeoutMs), "the installation did not end");
    QCOMPARE(run.exitStatus(), 0);

    const QByteArray output = run.output();
    for (const char c : output) {
        const unsigned char byte = static_cast<unsigned char>(c);
        QVERIFY2(byte == '\n' || (byte >= 0x20 && byte != 0x7f),
                 qPrintable(QStringLiteral("control character 0x%1 in a log").arg(byte, 2, 16)));
    }
    const QRegularExpression percentLine(QStringLiteral("^ *(\\d+)% "));
    int last = -1;
    int percentLines = 0;
    for (const QByteArray &line : output.split('\n')) {
        const QRegularExpressionMatch match = percentLine.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        const int percent = match.captured(1).toInt();
        QVERIFY2(percent > last, line.constData());
        last = percent;
        ++percentLines;
    }
    QCOMPARE(last, 100);
    // The tree has more files than there are percentages.
    QVERIFY(Fixture::countFiles(m_tree) > 101);
    QVERIFY2(output.count('\n') <= 101 + 20, output.constData());
    QVERIFY(percentLines <= 101);
}

void TestTextInstallInstall::progressOnTerminal_data()
{
    QTest::addColumn<int>("columns");
    QTest::newRow("wide terminal") << 132;
    QTest::newRow("narrow terminal, no room for a bar") << 30;
}

void TestTextInstallInstall::progressOnTerminal()
{
    QFETCH(int, columns);

    QTemporaryDir work;
    // Long enough that every status line must be cut to the width.
    const QString destination =
        work.filePath(QStringLiteral("a-rather-long-destination-directory-name/zarvo"));
    ProgramRun run(ProgramRun::Terminal, m_tree, installArguments(destination),
                   Fixture::environment());
    run.setTerminalWidth(columns);
    QVERIFY(run.start());
    QVERIFY2(run.finish(runTimeoutMs), "the installation did not end");
    QCOMPARE(run.exitStatus(), 0);

    const QString output = QString::fromUtf8(run.output());
    QVERIFY2(output.contains(QLatin1Char('\r')), "the line is not redrawn in place");
    QVERIFY2(!output.contains(QLatin1Char('\x1b')), "escape sequences in the progress line");
    const QRegularExpression bar(columns >= 41 ? QStringLiteral("^\\[#*-*\\] +(\\d+)%")
                                               : QStringLiteral("^ *(\\d+)%"));
    int redraws = 0;
    int last = -1;
    bool finishedLine = false;
    for (const QString &segment : output.split(QRegularExpression(QStringLiteral("[\r\n]")))) {
        // The closing sentences are plain lines that may wrap like any other.
        if (!finishedLine)
            QVERIFY2(segment.size() < columns, qPrintable(segment));
        const QRegularExpressionMatch match = bar.match(segment);
        if (match.hasMatch()) {
            ++redraws;
            last = match.captured(1).toInt();
        }
        if (segment.startsWith(QLatin1String("The installation is finished.")))
            finishedLine = true;
    }
    QVERIFY2(redraws > 1, qPrintable(output));
    QCOMPARE(last, 100);
    QVERIFY(finishedLine);
}

void TestTextInstallInstall::afterWork_data()
{
    QTest::addColumn<bool>("desktopSession");
    QTest::addColumn<bool>("allUsers");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("expectedLog");

    const QStringList noSession{QStringLiteral("xdg-mime install %1/lumo-mime.xml [unset]"),
                                QStringLiteral("post-install in ")};
    QTest::newRow("no desktop session") << false << false << QString() << 0 << noSession;
    const auto session = [](const char *mode) {
        const QString tail = QStringLiteral(" [%1]").arg(QLatin1String(mode));
        return QStringList{
            QStringLiteral("xdg-icon-resource install --size 16 %1/icons/16x16/corvane-zarvo.png"),
            QStringLiteral("xdg-icon-resource install --size 48 %1/icons/48x48/corvane-zarvo.png"),
            QStringLiteral("xdg-desktop-menu install %1/icons/corvane-zarvo.desktop") + tail,
            QStringLiteral("xdg-mime install %1/lumo-mime.xml") + tail,
            QStringLiteral("post-install in ")};
    };
    QTest::newRow("KDE session, per user") << true << false << QString() << 0 << session("user");
    QTest::newRow("KDE session, --all-users as root")
        << true << true << QString() << 0 << session("system");
    // Installed, but not cleanly: a script must be able to tell.
    QTest::newRow("menu tool fails: status 3")
        << true << false << "libexec/xdg-desktop-menu" << 3 << session("user");
    QTest::newRow("post-install script fails: status 3")
        << false << false << "post-install.sh" << 3 << noSession;
    QTest::newRow("a file of the installation failed: no after-work")
        << true << false << "copy" << 1 << QStringList();
    // The options name what is left out; the rest is done.
    QTest::newRow("--no-desktop in a KDE session")
        << true << false << "--no-desktop" << 0 << QStringList{QStringLiteral("post-install in ")};
    QTest::newRow("--no-post-install in a KDE session")
        << true << false << "--no-post-install" << 0 << QStringList(session("user").mid(0, 4));
}

void TestTextInstallInstall::afterWork()
{
    QFETCH(bool, desktopSession);
    QFETCH(bool, allUsers);
    QFETCH(QString, damage);
    QFETCH(int, status);
    QFETCH(QStringList, expectedLog);
    if (allUsers && ::getuid() != 0)
        QSKIP("--all-users needs root");

    QTemporaryDir work;
    QString why;
    const QString tree = work.filePath(QStringLiteral("tree"));
    QVERIFY2(Fixture::writeTree(tree, Fixture::DesktopFiles | Fixture::AfterWork, &why),
             qPrintable(why));
    const QString tools = work.filePath(QStringLiteral("tools"));
    QVERIFY2(Fixture::writeFakeTools(tools, &why), qPrintable(why));
    const QString log = work.filePath(QStringLiteral("log"));
    const QString destination = work.filePath(QStringLiteral("zarvo"));
    QStringList options;
    if (allUsers)
        options << QStringLiteral("--all-users");
    if (damage == QLatin1String("copy")) {
        QVERIFY(Fixture::writeFile(destination + QStringLiteral("/doc/RELEASE-NOTES/kept.txt"), "x"));
        options << QStringLiteral("--yes");
    } else if (damage.startsWith(QLatin1String("--"))) {
        options << damage;
    } else if (!damage.isEmpty()) {
        // It logs its run as the others do, then fails.
        const QString path = tree + QLatin1Char('/') + damage;
        QVERIFY(Fixture::writeFile(path, Fixture::readFile(path) + "exit 5\n", true));
    }

    QProcessEnvironment environment = Fixture::environment();
    environment.insert(QStringLiteral("PATH"),
                       tools + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("ZARVO_TEST_LOG"), log);
    if (desktopSession)
        environment.insert(QStringLiteral("KDE_FULL_SESSION"), QStringLiteral("true"));

    ProgramRun run(ProgramRun::Pipes, tree, installArguments(destination, options), environment);
    QVERIFY(run.start());
    run.closeInput();
    QVERIFY2(run.finish(runTimeoutMs), "the installation did not end");
    // Missing libraries are a warning: the installation still counts as finished.
    QCOMPARE(run.exitStatus(), status);
    const QByteArray warning =
        "The shared libraries libmissing-zarvo.bin.so.1, libmissing-gdb.so.1 are not installed.\n"
        "Corvane Zarvo may not run correctly without these libraries.";
    const bool afterWork = damage != QLatin1String("copy");
    QCOMPARE(run.errorOutput().contains(warning), afterWork);
    QVERIFY2(!run.output().contains("libmissing"), "the warning went to standard output");
    const bool desktop = afterWork && damage != QLatin1String("--no-desktop");
    const bool script = afterWork && damage != QLatin1String("--no-post-install");
    QCOMPARE(run.output().contains("Creating file association"), desktop);
    QCOMPARE(run.output().contains("Cleaning up files from previous installation(s)"), script);
    QCOMPARE(run.output().contains("Finished"), afterWork);
    // Said on the terminal and in the log kept with the installation.
    for (const QByteArray &said : {run.output(), Fixture::readFile(destination + QStringLiteral("/.installation.log"))})
        QCOMPARE(said.contains("\"" + QFile::encodeName(destination)
                               + "/post-install.sh\" was not run (--no-post-install)."),
                 afterWork && !script);
    const QByteArray problem = damage.startsWith(QLatin1String("libexec"))
        ? "Installation Error: xdg-desktop-menu exited with status 5.\n"
        : "The post-install script \"" + QFile::encodeName(destination)
              + "/post-install.sh\" exited with status 5.\n";
    if (status == 3) {
        QVERIFY2(run.errorOutput().contains(problem), run.errorOutput().constData());
        QVERIFY2(run.errorOutput().endsWith("Not every step after the installation succeeded; see "
                                            "the messages above.\n"),
                 run.errorOutput().constData());
    }
    // Nothing is added to a desktop menu outside a desktop session.
    QCOMPARE(run.output().contains("Adding icons to desktop menu"), desktopSession && desktop);

    const QString logged = QString::fromUtf8(Fixture::readFile(log));
    int at = 0;
    for (const QString &entry : expectedLog) {
        const QString line = entry.contains(QLatin1String("%1")) ? entry.arg(destination) : entry;
        const int found = logged.indexOf(line, at);
        QVERIFY2(found >= 0, qPrintable(QStringLiteral("%1 not in order in:\n%2").arg(line, logged)));
        at = found + line.size();
    }
    QCOMPARE(logged.contains(QLatin1String("xdg-desktop-menu")), desktopSession && desktop);
    QVERIFY(desktop || !logged.contains(QLatin1String("xdg-")));
    QCOMPARE(logged.contains(QLatin1String("post-install in")), script);
    // Used up by the after-work, or never installed; what is not used stays.
    QCOMPARE(QFileInfo::exists(destination + QStringLiteral("/lumo-mime.xml")), afterWork && !desktop);
    QCOMPARE(QFileInfo::exists(destination + QStringLiteral("/post-install.sh")), afterWork && !script);
    QCOMPARE(QFileInfo::exists(destination + QStringLiteral("/.installed")), afterWork);
    if (afterWork) {
        // The record knows the rewritten desktop entry and the registrations.
        const QString unrecorded = Fixture::checkRecord(destination);
        QVERIFY2(unrecorded.isEmpty(), qPrintable(unrecorded));
        QCOMPARE(Fixture::readFile(destination + QStringLiteral("/.installation-record"))
                     .contains("\nregistration xdg-icon-resource "),
                 desktopSession && desktop);
    }
}

void TestTextInstallInstall::permissions_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("group");

    QTest::newRow("all users, unpacked tree") << "tree" << QString();
    QTest::newRow("all users, archive without directory entries") << "archive" << QString();
    QTest::newRow("--group users, unpacked tree") << "tree" << "users";
    QTest::newRow("--group users, archive without directory entries") << "archive" << "users";
}

void TestTextInstallInstall::permissions()
{
    QFETCH(QString, kind);
    QFETCH(QString, group);
    const struct group *entry = group.isEmpty() ? nullptr : ::getgrnam(group.toLocal8Bit().constData());
    if (::getuid() != 0 || (!group.isEmpty() && !entry))
        QSKIP("installs for all users or the group users and reads as nobody: needs root and the group");

    QTemporaryDir work;
    QVERIFY(::chmod(QFile::encodeName(work.path()), 0755) == 0);
    QString why;
    // Stored modes that a strict umask would keep from others.
    const QString tree = work.filePath(QStringLiteral("tree"));
    QVERIFY2(Fixture::writeTree(tree, Fixture::Plain, &why), qPrintable(why));
    QVERIFY(::chmod(QFile::encodeName(tree + QStringLiteral("/doc/RELEASE-NOTES")), 0600) == 0);
    QVERIFY(::chmod(QFile::encodeName(tree + QStringLiteral("/bin/lumo")), 0700) == 0);
    const QString source = kind == QLatin1String("tree") ? tree : work.filePath(QStringLiteral("packed"));
    if (source != tree)
        QVERIFY2(Fixture::writeArchiveSource(tree, source, &why, false), qPrintable(why));
    const QString site = work.filePath(QStringLiteral("site"));
    QVERIFY(QDir().mkpath(site));
    // Its missing parent is the installation's too.
    const QString destination = work.filePath(QStringLiteral("opt/zarvo"));
    ProgramRun run(ProgramRun::Pipes, source,
                   installArguments(destination, {QStringLiteral("--modulefiles"), site,
                                                  group.isEmpty() ? QStringLiteral("--all-users")
                                                                  : QStringLiteral("--group=") + group}),
                   Fixture::environment());
    const mode_t oldMask = ::umask(077);
    const bool started = run.start();
    ::umask(oldMask);
    QVERIFY(started);
    QVERIFY2(run.finish(runTimeoutMs) && run.exitStatus() == 0, run.errorOutput().constData());

    QStringList made{work.filePath(QStringLiteral("opt")), destination,
                     site + QStringLiteral("/corvane-zarvo"), site + QStringLiteral("/corvane-zarvo/25.1.3")};
    for (QDirIterator it(destination, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        made << it.next();
    QStringList wrong;
    for (const QString &path : made) {
        struct stat st;
        QVERIFY(::lstat(QFile::encodeName(path), &st) == 0);
        const mode_t want = (S_ISDIR(st.st_mode) || (st.st_mode & S_IXUSR) ? 0755 : 0644) & ~(entry ? 05 : 0);
        if ((st.st_mode & 07777) != want || (entry && st.st_gid != entry->gr_gid))
            wrong << QStringLiteral("%1 %2 %3").arg(st.st_mode & 07777, 0, 8).arg(st.st_gid).arg(path);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    // Everything can be read and entered by others, or by the group's members alone.
    const QString groupId = entry ? QString::number(entry->gr_gid) : QString();
    QCOMPARE(asNobody(QStringLiteral("find \"$1\" \\( ! -readable -o -type d ! -executable \\) -print"),
                      destination, groupId),
             QString());
    QCOMPARE(asNobody(QStringLiteral("cat \"$1/bin/pesk\" >/dev/null"), destination, QString()),
             entry ? QStringLiteral("failed") : QString());
}

void TestTextInstallInstall::linksNoGraphicsLibraries()
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {textInstallProgram()});
    QVERIFY2(ldd.waitForFinished(30000), "ldd did not end");
    QCOMPARE(ldd.exitCode(), 0);
    const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    QVERIFY2(libraries.contains(QLatin1String("libQt5Core.so")), qPrintable(libraries));
    const QRegularExpression graphics(QStringLiteral(
        "lib(Qt5Gui|Qt5Widgets|Qt5XcbQpa|X11|X11-xcb|xcb[-\\w]*|Xext|Xrender|GL|GLX|EGL|OpenGL|"
        "xkbcommon[-\\w]*|wayland[-\\w]*|fontconfig|freetype|png16|harfbuzz)\\.so"));
    const QRegularExpressionMatch match = graphics.match(libraries);
    QVERIFY2(!match.hasMatch(), qPrintable(QStringLiteral("links %1").arg(match.captured(0))));
}

void TestTextInstallInstall::inspection_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("--list of the archive, as tar -t prints it")
        << "archive" << QString() << "--list" << 0 << QByteArray();
    QTest::newRow("--list of the tree, as a copy takes it")
        << "tree" << QString() << "--list" << 0 << QByteArray();
    QTest::newRow("--info of the archive")
        << "archive" << QString() << "--info" << 0 << QByteArray("Installation files: archive ");
    QTest::newRow("--info of the tree")
        << "tree" << QString() << "--info" << 0 << QByteArray("Installation files: unpacked tree ");
    QTest::newRow("--check of an undamaged archive")
        << "archive" << QString() << "--check" << 0 << QByteArray("are complete and undamaged");
    QTest::newRow("--check of an archive with a byte changed")
        << "archive" << "byte" << "--check" << 1 << QByteArray("Damaged compressed data");
    QTest::newRow("--check of an archive cut short")
        << "archive" << "cut" << "--check" << 1 << QByteArray("Truncated compressed data.");
    QTest::newRow("--check of a tree without its licence")
        << "tree" << "licence" << "--check" << 1
        << QByteArray("Corvane Zarvo installation files not found in");
}

void TestTextInstallInstall::inspection()
{
    QFETCH(QString, kind);
    QFETCH(QString, damage);
    QFETCH(QString, option);
    QFETCH(int, status);
    QFETCH(QByteArray, expected);

    QTemporaryDir work;
    const QString sourceDir = work.filePath(QStringLiteral("source"));
    QString why;
    QVERIFY2(kind == QLatin1String("tree") ? Fixture::writeTree(sourceDir, Fixture::Plain, &why)
                                           : Fixture::writeArchiveSource(m_tree, sourceDir, &why),
             qPrintable(why));
    const QString archive = sourceDir + QStringLiteral("/zarvo.tgz");
    QByteArray packed = Fixture::readFile(archive);
    if (damage == QLatin1String("byte"))
        packed[packed.size() / 2] = char(packed.at(packed.size() / 2) ^ 0x55);
    if (damage == QLatin1String("licence"))
        QVERIFY(Fixture::removeLicenceFile(sourceDir, QStringLiteral("license_agreement.txt")));
    QVERIFY(damage.isEmpty() || damage == QLatin1String("licence")
            || Fixture::writeFile(archive, damage == QLatin1String("cut") ? packed.left(packed.size() - 100) : packed));

    ProgramRun run(ProgramRun::Pipes, sourceDir, {option}, Fixture::environment());
    QVERIFY(run.start());
    QVERIFY2(run.finish(runTimeoutMs), "the program did not end");
    QVERIFY2(run.exitStatus() == status, run.errorOutput().constData());
    QVERIFY2((run.output() + run.errorOutput()).contains(expected), run.output() + run.errorOutput());

    // Every entry that tar -t lists, in its order for the archive.
    QProcess tar;
    QProcessEnvironment utf8 = QProcessEnvironment::systemEnvironment();
    utf8.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    tar.setProcessEnvironment(utf8);
    Fixture::writeArchiveSource(m_tree, work.filePath(QStringLiteral("packed")), &why);
    tar.start(QStringLiteral("tar"), {QStringLiteral("-tzf"), work.filePath(QStringLiteral("packed/zarvo.tgz"))});
    QVERIFY(tar.waitForFinished(runTimeoutMs) && tar.exitCode() == 0);
    QByteArrayList entries = tar.readAllStandardOutput().split('\n');
    entries.removeAll(QByteArray());
    entries.removeAll("./");
    if (option == QLatin1String("--info")) {
        qint64 bytes = 0;
        for (QDirIterator it(m_tree, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            bytes += QFileInfo(it.next()).size();
        const QByteArray count = QByteArray::number(entries.size() + (kind == QLatin1String("archive")));
        QVERIFY2(run.output().contains("\nEntries: " + count + " (")
                     && run.output().contains(" (" + QByteArray::number(bytes) + " bytes)\n"),
                 run.output().constData());
    } else if (option == QLatin1String("--list")) {
        QByteArrayList listed = run.output().split('\n');
        listed.removeAll(QByteArray());
        if (kind == QLatin1String("archive")) {
            QCOMPARE(listed, QByteArrayList{"./"} + entries);
        } else {
            for (QByteArray &entry : entries)
                entry = entry.mid(2);
            std::sort(entries.begin(), entries.end());
            std::sort(listed.begin(), listed.end());
            QCOMPARE(listed, entries);
        }
    }
}

bool TestTextInstallInstall::install(const QString &source, const QString &destination,
                                     QString *why, const QStringList &options)
{
    ProgramRun run(ProgramRun::Pipes, source, installArguments(destination, options),
                   Fixture::environment());
    if (run.start() && run.finish(runTimeoutMs) && run.exitStatus() == 0)
        return true;
    *why = QString::fromLocal8Bit(run.errorOutput());
    return false;
}

void TestTextInstallInstall::administration_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("differences");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("remaining");

    const QStringList yes{QStringLiteral("--yes")};
    const QStringList all{QStringLiteral("*")};
    QTest::newRow("clean installation") << QString() << yes << QByteArray() << QByteArray() << 0
                                        << QStringList();
    const QByteArray changes = "..5.     %1/bin/lumo\n"
                               ".M..     %1/bin/pesk\n"
                               "missing  %1/libexec/gdb\n"
                               "S.5.     %1/share/empty.txt\n"
                               "added    %1/share/site/\n"
                               "added    %1/share/site.conf\n";
    const QStringList kept{QStringLiteral("bin"), QStringLiteral("bin/lumo"), QStringLiteral("share"),
                           QStringLiteral("share/empty.txt"), QStringLiteral("share/site"),
                           QStringLiteral("share/site.conf"), QStringLiteral("share/site/x")};
    QTest::newRow("changed, removed, re-moded and added files: the site's are kept")
        << "changes" << yes << QByteArray() << changes << 0 << kept;
    QTest::newRow("the same, purged") << "changes" << QStringList{QStringLiteral("--yes"), QStringLiteral("--purge")}
                                      << QByteArray() << changes << 0 << QStringList();
    QTest::newRow("the installation's own remover")
        << "changes" << QStringList{QStringLiteral("remover"), QStringLiteral("--yes")} << QByteArray()
        << changes << 0 << kept;
    QTest::newRow("a link to outside where a directory was, purged")
        << "link" << QStringList{QStringLiteral("--yes"), QStringLiteral("--purge")} << QByteArray()
        << QByteArray("type     %1/share/data/deep\n"
                      "missing  %1/share/data/deep/er\n"
                      "missing  %1/share/data/deep/er/block.dat\n"
                      "missing  %1/share/data/deep/er/leaf.dat\n")
        << 0 << QStringList();
    QTest::newRow("asked on a terminal, answered y") << QString() << QStringList() << QByteArray("y\r")
                                                     << QByteArray() << 0 << QStringList();
    QTest::newRow("asked on a terminal, answered no") << QString() << QStringList() << QByteArray("no\r")
                                                      << QByteArray() << 1 << all;
    QTest::newRow("no terminal to ask on, no --yes") << QString() << QStringList() << QByteArray()
                                                     << QByteArray() << 1 << all;
    QTest::newRow("no record: refused") << "no record" << yes << QByteArray() << QByteArray() << 1 << all;
    QTest::newRow("a record cut short: refused") << "cut record" << yes << QByteArray() << QByteArray()
                                                 << 1 << all;
    QTest::newRow("a moved installation: refused") << "moved" << yes << QByteArray() << QByteArray()
                                                   << 1 << all;
}

void TestTextInstallInstall::administration()
{
    QFETCH(QString, change);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, differences);
    QFETCH(int, status);
    QFETCH(QStringList, remaining);

    QTemporaryDir work;
    QString destination = work.filePath(QStringLiteral("zarvo"));
    QString why;
    QVERIFY2(install(m_tree, destination, &why), qPrintable(why));
    const QString outside = work.filePath(QStringLiteral("outside"));
    QVERIFY(Fixture::writeFile(outside + QStringLiteral("/er/leaf.dat"), "not the installation's"));
    const QString record = destination + QStringLiteral("/.installation-record");
    if (change == QLatin1String("changes")) {
        QVERIFY(Fixture::writeFile(destination + QStringLiteral("/bin/lumo"), "#!/bin/sh\necho LUMO\n"));
        QVERIFY(QFile::setPermissions(destination + QStringLiteral("/bin/pesk"), QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::remove(destination + QStringLiteral("/libexec/gdb")));
        QVERIFY(Fixture::writeFile(destination + QStringLiteral("/share/empty.txt"), "grown\n"));
        QVERIFY(Fixture::writeFile(destination + QStringLiteral("/share/site.conf"), "site\n"));
        QVERIFY(Fixture::writeFile(destination + QStringLiteral("/share/site/x"), "site\n"));
    } else if (change == QLatin1String("link")) {
        QVERIFY(QDir(destination + QStringLiteral("/share/data/deep")).removeRecursively());
        QVERIFY(QFile::link(outside, destination + QStringLiteral("/share/data/deep")));
    } else if (change == QLatin1String("no record")) {
        QVERIFY(QFile::remove(record));
    } else if (change == QLatin1String("cut record")) {
        QVERIFY(Fixture::writeFile(record, Fixture::readFile(record).chopped(10)));
    } else if (change == QLatin1String("moved")) {
        QVERIFY(QDir().rename(destination, destination + QStringLiteral("-moved")));
        destination += QStringLiteral("-moved");
    }
    const QStringList before = QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    ProgramRun verify(ProgramRun::Pipes, work.path(),
                      {QStringLiteral("--verify"), destination, QStringLiteral("--added")},
                      Fixture::environment());
    QVERIFY(verify.start() && verify.finish(runTimeoutMs));
    QCOMPARE(QString::fromUtf8(verify.output()).split(QLatin1Char('\n')),
             QString::fromUtf8(differences).replace(QLatin1String("%1"), destination).split(QLatin1Char('\n')));
    QCOMPARE(verify.exitStatus(), differences.isEmpty() && !change.endsWith(QLatin1String("record")) ? 0 : 1);

    const bool ownRemover = options.removeAll(QStringLiteral("remover")) > 0;
    ProgramRun removal(answer.isEmpty() ? ProgramRun::Pipes : ProgramRun::Terminal, work.path(),
                       (ownRemover ? QStringList() : QStringList{QStringLiteral("--uninstall"), destination}) + options,
                       Fixture::environment());
    if (ownRemover)
        removal.setProgram(destination + QStringLiteral("/uninstall"));
    QVERIFY(removal.start());
    if (!answer.isEmpty()) {
        QVERIFY2(removal.waitForOutput("Remove it? [y/N] ", runTimeoutMs), removal.output().constData());
        removal.send(answer);
    }
    QVERIFY2(removal.finish(runTimeoutMs), "the removal did not end");
    QVERIFY2(removal.exitStatus() == status, removal.output() + removal.errorOutput());
    const QString left = Fixture::listing(destination).join(QLatin1Char(' '));
    if (remaining == QStringList{QStringLiteral("*")})
        QCOMPARE(QDir(destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    else
        QCOMPARE(left, remaining.join(QLatin1Char(' ')));
    QVERIFY(remaining.isEmpty() ? !QFileInfo::exists(destination) : true);
    // Every file kept is named.
    for (const QString &path : remaining) {
        if (path != QLatin1String("*") && QFileInfo(destination + QLatin1Char('/') + path).isFile() && !path.startsWith(QLatin1String("share/site/")))
            QVERIFY2(removal.output().contains(QFile::encodeName(destination + QLatin1Char('/') + path)), removal.output().constData());
    }
    QCOMPARE(Fixture::readFile(outside + QStringLiteral("/er/leaf.dat")), QByteArray("not the installation's"));
}

void TestTextInstallInstall::removalKilled()
{
    QTemporaryDir work;
    const QString destination = work.filePath(QStringLiteral("zarvo"));
    QString why;
    QVERIFY2(install(m_tree, destination, &why), qPrintable(why));
    const QString marker = destination + QStringLiteral("/.installed");
    const QString record = destination + QStringLiteral("/.installation-record");
    // Killed at ever later moments until a run ends by itself.
    int partial = 0;
    for (int delayMs = 0;; delayMs += 3) {
        ProgramRun removal(ProgramRun::Pipes, work.path(), {QStringLiteral("--uninstall"), destination, QStringLiteral("--yes")},
                           Fixture::environment());
        QVERIFY(removal.start());
        QThread::msleep(ulong(delayMs));
        removal.signal(SIGKILL);
        QVERIFY(removal.finish(runTimeoutMs));
        // Killed in the instant between the record and the directory, it
        // leaves the directory empty.
        if (removal.exitStatus() == 0 || Fixture::listing(destination).isEmpty())
            break;
        QVERIFY2(QFileInfo::exists(record), "killed, and the record is gone with files left");
        partial += !QFileInfo::exists(marker);
        QVERIFY(delayMs < 10000);
    }
    QVERIFY(Fixture::listing(destination).isEmpty());
    QVERIFY2(partial > 0, "no run was killed while removing: the installation is too small");
}

ZARVO_TEST_MAIN_CORE(TestTextInstallInstall)
#include "tst_textinstall_install.moc"
