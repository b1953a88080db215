// What a user's machine does to an installation: a file system that fills
// up, a destination that the user may not write, a source file or archive
// that the user may not read. Both modes, through the real Installer.

#include "installer/engine/installer.h"
#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace Reliability;

namespace {

bool changeOwner(const QString &path, uid_t uid)
{
    return ::chown(QFile::encodeName(path).constData(), uid, uid) == 0;
}

} // namespace

class tst_DiskFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fullDisk_data();
    void fullDisk();
    void unprivileged_data();
    void unprivileged();

private:
    QString source(bool archive) const { return archive ? archiveSource : copySource; }

    QTemporaryDir work;
    Tree tree;
    QString copySource;
    QString archiveSource;
};

void tst_DiskFaults::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY(openUpTo(work.path()));
    // Incompressible files well beyond the small file system.
    tree = generateTree(977, 40, 96 * 1024);
    copySource = work.filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(copySource));
    QVERIFY(writeTree(tree, QFile::encodeName(copySource)));
    archiveSource = work.filePath(QStringLiteral("archive"));
    QVERIFY(QDir().mkpath(archiveSource));
    QString why;
    QVERIFY2(writeArchive(tree, QFile::encodeName(archiveSource + QStringLiteral("/zarvo.tgz")),
                          &why),
             qPrintable(why));
}

void tst_DiskFaults::fullDisk_data()
{
    QTest::addColumn<bool>("archive");
    QTest::addColumn<bool>("spaceCheck");
    QTest::newRow("copy: too little free space") << false << true;
    QTest::newRow("extraction: too little free space") << true << true;
    QTest::newRow("copy onto a full file system") << false << false;
    QTest::newRow("extraction onto a full file system") << true << false;
    QTest::newRow("copy onto a full file system (pool)") << false << false;
    QTest::newRow("extraction onto a full file system (pool)") << true << false;
}

void tst_DiskFaults::fullDisk()
{
    QFETCH(bool, archive);
    QFETCH(bool, spaceCheck);
    TmpfsMount disk(work.filePath(QStringLiteral("small-%1-%2").arg(archive).arg(spaceCheck)),
                    "512k");
    if (!disk.isMounted())
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here (%1); CI runs as root")
                                 .arg(disk.refusal())));
    const QByteArray destination = disk.path() + "/zarvo";
    ScriptedPrompt prompt;
    Reports reports;
    const QMap<QByteArray, QByteArray> before = snapshotTree(disk.path(), true);
    QVERIFY(runInstallation(source(archive), QFile::decodeName(destination), &prompt, &reports,
                            60000, [spaceCheck](Installer &installer) {
                                installer.setSpaceCheck(spaceCheck);
                                installer.setWriters(TestEnvironment::writersOfRow());
                            }));
    // One error, then the run stops: not one box per remaining file.
    const QString why = verify(Outcome::Refused, reports, expectedListing(tree, !archive),
                               destination);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    // The error and the per-file reports come the same way, in order: no
    // file may be started after the one that failed.
    const int failed = reports.log.indexOf(QStringLiteral("error\t") + reports.errors.first());
    for (int i = failed + 1; i < reports.log.size(); ++i)
        QVERIFY2(!reports.log.at(i).startsWith(QStringLiteral("status\t")),
                 qPrintable(QStringLiteral("work went on after the error: ") + reports.log.at(i)));
    // Nothing is left of it, whether it was refused before it began or the
    // disk filled up on the way.
    QCOMPARE(snapshotTree(disk.path(), true), before);
    if (spaceCheck) {
        const QRegularExpression figures(QStringLiteral(
            "^Not enough free space in \"%1\": the installation needs [0-9.]+ [KM]iB, "
            "[0-9.]+ KiB are free\\.$").arg(QRegularExpression::escape(QFile::decodeName(destination))));
        QVERIFY2(figures.match(reports.errors.first()).hasMatch(), qPrintable(reports.errors.first()));
    } else if (archive) {
        const QString cause = QString::fromLocal8Bit(std::strerror(ENOSPC));
        QVERIFY2(reports.errors.first().contains(cause),
                 qPrintable(QStringLiteral("the error does not say the disk is full: ")
                            + reports.errors.first()));
    }
}

void tst_DiskFaults::unprivileged_data()
{
    QTest::addColumn<bool>("archive");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("outcome");
    for (bool archive : {false, true}) {
        const char *mode = archive ? "archive" : "copy";
        QTest::addRow("%s: destination inside a directory of root", mode)
                << archive << QStringLiteral("parent not writable") << int(Outcome::Refused);
        QTest::addRow("%s: existing destination of root", mode)
                << archive << QStringLiteral("destination not writable") << int(Outcome::Refused);
        QTest::addRow("%s: nothing can be written at the top", mode)
                << archive << QStringLiteral("top not writable") << int(Outcome::Refused);
        // Replaced in both modes; what the links lead to is never touched.
        QTest::addRow("%s: links of an earlier installation in the destination", mode)
                << archive << QStringLiteral("earlier links") << int(Outcome::Exact);
    }
    QTest::newRow("copy: one source file unreadable")
            << false << QStringLiteral("file unreadable") << int(Outcome::Refused);
    QTest::newRow("copy: a source directory cannot be listed")
            << false << QStringLiteral("directory unlistable") << int(Outcome::Refused);
    QTest::newRow("copy: a source directory cannot be searched")
            << false << QStringLiteral("directory unsearchable") << int(Outcome::Refused);
    QTest::newRow("archive: archive unreadable")
            << true << QStringLiteral("archive unreadable") << int(Outcome::Refused);
    QTest::newRow("archive: hard link before its target")
            << true << QStringLiteral("hard link first") << int(Outcome::Refused);
    QTest::newRow("archive: hard link before its target, over an earlier installation")
            << true << QStringLiteral("hard link first, earlier") << int(Outcome::Refused);
}

void tst_DiskFaults::unprivileged()
{
    QFETCH(bool, archive);
    QFETCH(QString, damage);
    QFETCH(int, outcome);
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty() && ::getuid() == 0)
        QSKIP("setpriv (util-linux) is needed to install as an unprivileged user");

    QTemporaryDir run(work.filePath(QStringLiteral("run-XXXXXX")));
    QVERIFY(run.isValid());
    QVERIFY(openUpTo(run.path()));
    const uid_t user = ::getuid() == 0 ? 65534 : ::getuid();
    QString src = source(archive);
    QString destination = run.filePath(QStringLiteral("zarvo"));
    QMap<QByteArray, QByteArray> expected = expectedListing(tree, !archive);
    const QString outside = run.filePath(QStringLiteral("outside"));
    const QStringList allTheUsers = {QStringLiteral("-R"), QStringLiteral("-h"),
                                     QStringLiteral("%1:%1").arg(user), run.path()};

    if (damage == QLatin1String("parent not writable")) {
        const QString locked = run.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                      | QFile::ReadOther | QFile::ExeOther));
        if (::getuid() != 0)
            QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        destination = locked + QStringLiteral("/sub/zarvo");
    } else if (damage == QLatin1String("destination not writable")) {
        QVERIFY(QDir().mkpath(destination));
        ::chmod(QFile::encodeName(destination).constData(), ::getuid() == 0 ? 0755 : 0555);
    } else if (damage == QLatin1String("top not writable")) {
        // Everything below exists and is the user's, but the top is not: the
        // copy fails at its first entry; only an empty source would reach the
        // marker, so use one.
        const QString empty = run.filePath(QStringLiteral("empty-source"));
        QVERIFY(QDir().mkpath(empty + QStringLiteral("/bin")));
        if (archive) {
            QString why;
            QVERIFY2(writeArchive(Tree(), QFile::encodeName(empty + QStringLiteral("/zarvo.tgz")), &why),
                     qPrintable(why));
        } else {
            QFile pesk(empty + QStringLiteral("/bin/pesk"));
            QVERIFY(pesk.open(QIODevice::WriteOnly));
        }
        QVERIFY(openUpTo(empty + QStringLiteral("/bin")));
        src = empty;
        // The modulefile and the set-up scripts come before the marker.
        for (const char *below : {"bin", "modulefiles", "modulefiles/corvane-zarvo", "etc",
                                  "etc/profile.d"}) {
            const QString directory = destination + QLatin1Char('/') + QLatin1String(below);
            QVERIFY(QDir().mkpath(directory));
            QVERIFY(changeOwner(directory, user));
        }
        ::chmod(QFile::encodeName(destination).constData(), ::getuid() == 0 ? 0755 : 0555);
        expected.clear();
    } else if (damage == QLatin1String("file unreadable") || damage.startsWith(QLatin1String("directory"))) {
        const QString tree2 = run.filePath(QStringLiteral("source"));
        QVERIFY(QDir().mkpath(tree2));
        QVERIFY(writeTree(tree, QFile::encodeName(tree2)));
        QVERIFY(openUpTo(tree2 + QStringLiteral("/bin")));
        const Entry &victim = tree.at(tree.size() / 2);
        QVERIFY(victim.kind == Entry::File);
        const QByteArray path = QFile::encodeName(tree2) + '/'
                + (damage.startsWith(QLatin1String("directory")) ? QByteArray("share") : victim.path);
        const mode_t mode = damage.endsWith(QLatin1String("unlistable")) ? 0311
                : damage.endsWith(QLatin1String("unsearchable")) ? 0644 : 0;
        QVERIFY(::chmod(path.constData(), mode) == 0);
        if (::getuid() != 0)
            QVERIFY(::access(path.constData(), R_OK | X_OK) != 0);
        src = tree2;
        QVERIFY(changeOwner(run.path(), user));
    } else if (damage.startsWith(QLatin1String("hard link first"))) {
        // The tree's hard link, its last entry, goes right before its target.
        Tree reordered = tree;
        reordered.insert(8, reordered.takeLast());
        QCOMPARE(reordered.at(9).path, reordered.at(8).data);
        src = run.filePath(QStringLiteral("source"));
        QString why;
        QVERIFY(QDir().mkpath(src));
        QVERIFY2(writeArchive(reordered, QFile::encodeName(src + QStringLiteral("/zarvo.tgz")), &why),
                 qPrintable(why));
        if (damage.endsWith(QLatin1String("earlier")))
            QVERIFY(QDir().mkpath(destination + QStringLiteral("/bin"))
                    && writeTree({{Entry::File, "bin/pesk", "old", 0755}}, QFile::encodeName(destination)));
        QCOMPARE(QProcess::execute(QStringLiteral("chown"), allTheUsers), 0);
    } else if (damage == QLatin1String("earlier links")) {
        const QByteArray out = QFile::encodeName(outside);
        QVERIFY(QDir().mkpath(outside) && QDir().mkpath(destination + QStringLiteral("/bin")));
        QVERIFY(writeTree({{Entry::File, "victim", "precious", 0644}}, out));
        QVERIFY(writeTree({{Entry::File, "bin/pesk-1", "old", 0644},
                           {Entry::Symlink, "bin/pesk", "pesk-1", 0777},
                           {Entry::Symlink, "lib", out, 0777},
                           {Entry::Symlink, "share", out + "/victim", 0777}},
                          QFile::encodeName(destination)));
        QCOMPARE(QProcess::execute(QStringLiteral("chown"), allTheUsers), 0);
        expected.insert("bin/pesk-1", "f:old");
    } else if (damage == QLatin1String("archive unreadable")) {
        const QString copy = run.filePath(QStringLiteral("source"));
        QVERIFY(QDir().mkpath(copy));
        QVERIFY(QFile::copy(archiveSource + QStringLiteral("/zarvo.tgz"),
                            copy + QStringLiteral("/zarvo.tgz")));
        QVERIFY(::chmod(QFile::encodeName(copy + QStringLiteral("/zarvo.tgz")).constData(), 0) == 0);
        src = copy;
        QVERIFY(changeOwner(run.path(), user));
    }
    // Make the directories of the run readable for nobody except where the
    // row takes rights away on purpose.
    QVERIFY(openUpTo(src));
    const QMap<QByteArray, QByteArray> outsideBefore = listTree(QFile::encodeName(outside));

    Reports reports;
    QString why;
    QVERIFY2(runInHelper(QFile::encodeName(src), QFile::encodeName(destination), true,
                         QStringList(), &reports, &why),
             qPrintable(why));
    why = verify(Outcome(outcome), reports, expected, QFile::encodeName(destination));
    QVERIFY2(why.isEmpty(), qPrintable(why + QStringLiteral("\n") + reports.log.join(QLatin1Char('\n'))));
    // A file that fails installs nothing at all.
    if (damage == QLatin1String("file unreadable")) {
        QVERIFY2(reports.finished == 0 && reports.errors.size() == 1
                         && reports.errors.first().startsWith(QStringLiteral("Can't open \""))
                         && !QFileInfo::exists(destination),
                 qPrintable(reports.summary()));
    }
    if (damage == QLatin1String("top not writable"))
        QVERIFY2(reports.errors.first().startsWith(
                     QStringLiteral("Could not create destination directory \"")),
                 qPrintable(reports.summary()));
    // Nothing is installed from a tree that cannot be read whole.
    if (damage.startsWith(QLatin1String("directory")))
        QVERIFY2(listTree(QFile::encodeName(destination)).isEmpty()
                         && reports.errors.first().endsWith(QString::fromLocal8Bit(std::strerror(EACCES)) + QLatin1Char('.')),
                 qPrintable(reports.summary()));
    // The same words whether an earlier installation is there or not.
    if (damage.startsWith(QLatin1String("hard link first")))
        QVERIFY2(reports.errors.first().endsWith(
                         QStringLiteral("the hard link target \"bin/pesk\" does not come before it in the archive")),
                 qPrintable(reports.summary()));
    QCOMPARE(listTree(QFile::encodeName(outside)), outsideBefore);
}

ZARVO_TEST_MAIN_CORE(tst_DiskFaults)
#include "tst_diskfaults.moc"
