// All or nothing: a transaction committed leaves exactly the new tree plus
// what the site added; rolled back, or killed at any moment and recovered,
// it leaves everything byte-identical (content, modes, owners, times, links),
// the destination's surroundings included, and nothing of its own behind.

#include "installer/transaction/statedirectory.h"
#include "installer/transaction/transaction.h"
#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace Reliability;

namespace {

struct Scenario
{
    bool existing;
    bool reinstall;    // an earlier installation, with files the new one drops
    bool linkInTheWay; // the destination has a link to outside where the new tree has a directory
    bool unprivileged; // run as nobody, with read-only directories in both trees
};

const uid_t nobody = 65534;

const Tree &earlierTree()
{
    static const Tree tree = generateTree(11, 120, 3000);
    return tree;
}

const Tree &newTree()
{
    static const Tree tree = generateTree(12, 150, 3000);
    return tree;
}

QByteArray destinationIn(const QByteArray &work, const Scenario &s)
{
    return work + (s.existing ? "/dest" : "/a/b/dest");
}

bool writeFile(const QByteArray &path, const QByteArray &content)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The state before the installation; without the earlier installation, the
// base on which the new tree gives what a commit must leave.
bool prepare(const QByteArray &work, const Scenario &s, bool withEarlier)
{
    const QByteArray destination = destinationIn(work, s);
    bool ok = QDir().mkpath(QFile::decodeName(work + "/outside"))
        && writeFile(work + "/outside/keep.txt", "outside\n");
    if (!s.existing)
        return ok;
    ok = ok && QDir().mkpath(QFile::decodeName(destination + "/bin"));
    if (s.reinstall) {
        if (withEarlier)
            ok = ok && writeTree(earlierTree(), destination) && writeFile(destination + "/.installed", "");
        ok = ok && writeFile(destination + "/site-notes.txt", "ours\n")
            && writeFile(destination + "/bin/site-tool", "#!/bin/sh\n");
    }
    if (s.linkInTheWay && withEarlier)
        ok = ok && ::symlink("../outside", (destination + "/lib").constData()) == 0;
    if (s.unprivileged && withEarlier)
        ok = ok && ::chmod((destination + "/share/doc").constData(), 0555) == 0
            && ::chmod((destination + "/lib/plugins").constData(), 0555) == 0;
    return ok;
}

// Everything below `work` given to nobody, who must also reach it.
bool giveAway(const QByteArray &work, const Scenario &s)
{
    return !s.unprivileged
        || (openUpTo(QFile::decodeName(work))
            && QProcess::execute(QStringLiteral("chown"),
                                 {QStringLiteral("-R"), QStringLiteral("-h"), QStringLiteral("65534:65534"),
                                  QFile::decodeName(work)})
                == 0);
}

// Runs `work` as nobody in a child process when the scenario says so.
bool runAs(const Scenario &s, const std::function<bool()> &work)
{
    if (!s.unprivileged)
        return work();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgroups(0, nullptr) == 0 && ::setresgid(nobody, nobody, nobody) == 0
                        && ::setresuid(nobody, nobody, nobody) == 0 && work()
                    ? 0
                    : 1);
    int status = -1;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

QSet<QByteArray> pathsOf(const Tree &tree)
{
    QSet<QByteArray> paths;
    for (const Entry &e : tree)
        paths.insert(e.path);
    return paths;
}

bool writeNewTree(const QByteArray &directory, const Scenario &s)
{
    return writeTree(newTree(), directory)
        && writeFile(directory + "/" + Transaction::markerName, "")
        && (!s.unprivileged
            || (::chmod((directory + "/share/icons").constData(), 0555) == 0
                && ::chmod((directory + "/share/doc").constData(), 0555) == 0));
}

bool fill(Transaction &transaction, const Scenario &s)
{
    return writeNewTree(QFile::encodeName(transaction.stagingDirectory()), s);
}

QStringList leftovers()
{
    return QDir(stateDirectory() + QStringLiteral("/transactions")).entryList(QDir::Files);
}

QString differences(const QMap<QByteArray, QByteArray> &a, const QMap<QByteArray, QByteArray> &b)
{
    QStringList names;
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        if (b.value(it.key()) != it.value())
            names << QString::fromUtf8(it.key());
    }
    for (auto it = b.cbegin(); it != b.cend(); ++it) {
        if (!a.contains(it.key()))
            names << QString::fromUtf8("+" + it.key());
    }
    return names.mid(0, 6).join(QStringLiteral(", "));
}

const int kills = 50;

Scenario fetchScenario()
{
    QFETCH(bool, existing);
    QFETCH(bool, reinstall);
    QFETCH(bool, linkInTheWay);
    QFETCH(bool, unprivileged);
    return Scenario{existing, reinstall, linkInTheWay, unprivileged};
}

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

class tst_Transaction : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void commitAndRollback_data();
    void commitAndRollback();
    void killed_data() { commitAndRollback_data(); }
    void killed();
    void anotherRunHoldsIt();

private:
    // Fills and commits in a child process; the seconds from the start at
    // which the commit began and ended, through the pipe.
    pid_t startChild(const QByteArray &destination, const Scenario &s, int pipeOut);
    QMap<QByteArray, QByteArray> expectedAfter(const Scenario &s);

    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<TmpfsMount> memory;
    QByteArray work;
};

void tst_Transaction::init()
{
    memory.reset();
    scratch.reset(new QTemporaryDir);
    QVERIFY(scratch->isValid());
    // In memory where the system allows: the runs need not wait for a disk.
    memory.reset(new TmpfsMount(scratch->filePath(QStringLiteral("memory")), "64m"));
    work = QFile::encodeName(scratch->filePath(QStringLiteral("memory/work")));
    QVERIFY(QDir().mkpath(QFile::decodeName(work)));
}

void tst_Transaction::commitAndRollback_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("reinstall");
    QTest::addColumn<bool>("linkInTheWay");
    QTest::addColumn<bool>("unprivileged");
    QTest::newRow("fresh destination below two missing directories") << false << false << false << false;
    QTest::newRow("existing empty destination") << true << false << false << false;
    QTest::newRow("re-install with a dropped file and site-added files") << true << true << false << false;
    QTest::newRow("link to outside where the new tree has a directory") << true << false << true << false;
    if (::getuid() == 0)
        QTest::newRow("re-install over read-only directories, as nobody") << true << true << false << true;
}

QMap<QByteArray, QByteArray> tst_Transaction::expectedAfter(const Scenario &s)
{
    const QByteArray expected = QFile::encodeName(scratch->filePath(QStringLiteral("expected")));
    const QByteArray destination = destinationIn(expected, s);
    if (!prepare(expected, s, false) || !QDir().mkpath(QFile::decodeName(destination))
        || !writeNewTree(destination, s) || !giveAway(expected, s))
        return {};
    return snapshotTree(expected, false);
}

void tst_Transaction::commitAndRollback()
{
    const Scenario s = fetchScenario();
    const QByteArray destination = destinationIn(work, s);
    QVERIFY(prepare(work, s, true) && giveAway(work, s));
    const QMap<QByteArray, QByteArray> before = snapshotTree(work, true);
    const auto install = [&](bool commit) {
        Transaction transaction(QFile::decodeName(destination));
        transaction.setPreviousEntries(s.reinstall ? pathsOf(earlierTree()) : QSet<QByteArray>());
        const bool ok = transaction.begin() && fill(transaction, s)
            && (commit ? transaction.commit() : transaction.rollback());
        if (!ok)
            qWarning("%s", qPrintable(transaction.errorString()));
        return ok;
    };

    QVERIFY(runAs(s, [&] { return install(false); }));
    QCOMPARE(differences(snapshotTree(work, true), before), QString());
    QCOMPARE(leftovers(), QStringList());

    QVERIFY(runAs(s, [&] { return install(true); }));
    QCOMPARE(differences(snapshotTree(work, false), expectedAfter(s)), QString());
    QCOMPARE(leftovers(), QStringList());
}

pid_t tst_Transaction::startChild(const QByteArray &destination, const Scenario &s, int pipeOut)
{
    const double start = now();
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    if (s.unprivileged
        && (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0
            || ::setresuid(nobody, nobody, nobody) != 0))
        ::_exit(4);
    Transaction transaction(QFile::decodeName(destination));
    if (!transaction.begin() || !fill(transaction, s))
        ::_exit(1);
    transaction.setPreviousEntries(s.reinstall ? pathsOf(earlierTree()) : QSet<QByteArray>());
    const double commitStart = now() - start;
    const bool committed = transaction.commit();
    const double times[2] = {commitStart, now() - start};
    if (::write(pipeOut, times, sizeof times) != sizeof times)
        ::_exit(3);
    ::_exit(committed ? 0 : 2);
}

void tst_Transaction::killed()
{
    const Scenario s = fetchScenario();
    const QByteArray destination = destinationIn(work, s);
    const QMap<QByteArray, QByteArray> after = expectedAfter(s);

    // Runs to their end tell how long filling and committing take.
    int pipeFds[2];
    QCOMPARE(::pipe(pipeFds), 0);
    double phases[2] = {1e9, 1e9};
    int status = -1;
    for (int run = 0; run < 3; ++run) {
        removeTree(work);
        QVERIFY(prepare(work, s, true) && giveAway(work, s));
        ::waitpid(startChild(destination, s, pipeFds[1]), &status, 0);
        double times[2] = {};
        QCOMPARE(::read(pipeFds[0], times, sizeof times), ssize_t(sizeof times));
        QCOMPARE(status, 0);
        QCOMPARE(differences(snapshotTree(work, false), after), QString());
        phases[0] = qMin(phases[0], times[0]);
        phases[1] = qMin(phases[1], times[1]);
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);

    // Half the kills anywhere in the run, half during the commit.
    QRandomGenerator random(quint32(qHash(QByteArray(QTest::currentDataTag()))));
    int restored = 0, completed = 0;
    for (int run = 0; run < kills; ++run) {
        removeTree(work);
        QVERIFY(prepare(work, s, true) && giveAway(work, s));
        const QMap<QByteArray, QByteArray> before = snapshotTree(work, true);
        const double from = run % 2 ? phases[0] : 0;
        const double delay = from + random.generateDouble() * (phases[1] * 1.1 - from);
        const pid_t child = startChild(destination, s, -1);
        const timespec pause{time_t(delay), long((delay - double(time_t(delay))) * 1e9)};
        ::nanosleep(&pause, nullptr);
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);

        QString message;
        const Transaction::Recovery result =
            Transaction::recover(QFile::decodeName(destination), &message);
        QVERIFY2(result != Transaction::Failed && result != Transaction::Busy, qPrintable(message));
        const QMap<QByteArray, QByteArray> now = snapshotTree(work, true);
        const bool asBefore = now == before;
        const bool complete = snapshotTree(work, false) == after;
        QVERIFY2(asBefore || complete,
                 qPrintable(QStringLiteral("killed after %1 s: %2 / %3")
                                .arg(delay)
                                .arg(differences(now, before), differences(snapshotTree(work, false), after))));
        QCOMPARE(leftovers(), QStringList());
        restored += asBefore;
        completed += complete;
    }
    qInfo("%d kills in %.1f ms runs (commit from %.1f ms): %d as before, %d complete", kills,
          phases[1] * 1000, phases[0] * 1000, restored, completed);
}

void tst_Transaction::anotherRunHoldsIt()
{
    const QString destination = QFile::decodeName(work + "/dest");
    Transaction first(destination);
    QVERIFY(first.begin());
    Transaction second(destination);
    QVERIFY(!second.begin());
    QCOMPARE(second.errorString(),
             QStringLiteral("Another installation into \"%1\" is in progress.").arg(destination));
    QString message;
    QCOMPARE(Transaction::recover(destination, &message), Transaction::Busy);
    QVERIFY(first.rollback());
    QCOMPARE(Transaction::recover(destination, &message), Transaction::NothingFound);
    QVERIFY(!QFileInfo::exists(destination));
}

ZARVO_TEST_MAIN_CORE(tst_Transaction)
#include "tst_transaction.moc"
