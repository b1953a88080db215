// A hurried user: installations in both modes stopped after a random
// (seeded) delay, through Installer::cancel and by destroying the Installer.
// Every stop must return (a 10 s bound, a hang detector), end in exactly one
// report, leave nothing of an incomplete installation, and leak no thread and
// no file descriptor.
//
// And a killed one: an installation process killed (SIGKILL) or stopped
// (SIGTERM) at a random moment, then the installer run again on the same
// destination, must leave it exactly as it was before or completely
// installed, with nothing of the mechanism left beside it.

#include "installer/engine/installer.h"
#include "installer/transaction/statedirectory.h"
#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <memory>

using namespace Reliability;

namespace {
const int runsPerRow = 100;
const int killsPerRow = 50;
const qint64 stopBoundMs = 10000;
// A file of the earlier installation that the new one no longer has, and one
// that the site added to it.
const QByteArray droppedFile = "share/dropped-in-2.txt";
const QByteArray siteFile = "site-notes.txt";
} // namespace

class tst_CancelStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void stop_data();
    void stop();
    void kill_data();
    void kill();

private:
    QTemporaryDir scratch;
    std::unique_ptr<TmpfsMount> memory;
    QDir work;
    QString copySource;
    QString archiveSource;
    QMap<QByteArray, QByteArray> expectedCopy;
    QMap<QByteArray, QByteArray> expectedArchive;
    // An earlier installation with a file the new one drops and a site's file.
    QString earlier;
};

void tst_CancelStress::initTestCase()
{
    QVERIFY(scratch.isValid());
    // Hundreds of runs in memory where the system allows, so that the disk
    // does not set the pace.
    memory.reset(new TmpfsMount(scratch.filePath(QStringLiteral("memory")), "128m"));
    if (!memory->isMounted())
        qInfo("running on disk: cannot mount a tmpfs (%s)", qPrintable(memory->refusal()));
    work.setPath(scratch.filePath(QStringLiteral("memory")));
    // Many small files: a stop lands between two of them.
    const Tree tree = generateTree(4242, 160, 6 * 1024);
    copySource = work.filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(copySource));
    QVERIFY(writeTree(tree, QFile::encodeName(copySource)));
    archiveSource = work.filePath(QStringLiteral("archive"));
    QVERIFY(QDir().mkpath(archiveSource));
    QString why;
    QVERIFY2(writeArchive(tree, QFile::encodeName(archiveSource + QStringLiteral("/zarvo.tgz")),
                          &why),
             qPrintable(why));
    expectedCopy = expectedListing(tree, true);
    expectedArchive = expectedListing(tree, false);

    Tree first = generateTree(4141, 40, 6 * 1024);
    first.append({Entry::File, droppedFile, "only in the earlier version", 0644});
    const QString firstSource = work.filePath(QStringLiteral("first"));
    QVERIFY(QDir().mkpath(firstSource) && writeTree(first, QFile::encodeName(firstSource)));
    earlier = work.filePath(QStringLiteral("earlier"));
    ScriptedPrompt prompt;
    Reports reports;
    QVERIFY(runInstallation(firstSource, earlier, &prompt, &reports));
    QVERIFY2(reports.finished == 1, qPrintable(reports.summary()));
    QVERIFY(writeTree({{Entry::File, siteFile, "the site's own", 0644}}, QFile::encodeName(earlier)));
}

void tst_CancelStress::stop_data()
{
    QTest::addColumn<bool>("archive");
    QTest::addColumn<bool>("destroy");
    QTest::newRow("copy, cancelled") << false << false;
    QTest::newRow("archive, cancelled") << true << false;
    QTest::newRow("copy, Installer destroyed") << false << true;
    QTest::newRow("archive, Installer destroyed") << true << true;
    QTest::newRow("copy, cancelled (pool)") << false << false;
    QTest::newRow("archive, Installer destroyed (pool)") << true << true;
}

void tst_CancelStress::stop()
{
    QFETCH(bool, archive);
    QFETCH(bool, destroy);
    const QString source = archive ? archiveSource : copySource;
    const QMap<QByteArray, QByteArray> &expected = archive ? expectedArchive : expectedCopy;

    // A full run first: its length spreads the stops over the whole
    // installation, and whatever the toolkit sets up once is in place before
    // descriptors and threads are counted.
    QElapsedTimer clock;
    clock.start();
    {
        ScriptedPrompt prompt;
        Reports reports;
        const QString destination = work.filePath(QStringLiteral("full"));
        QVERIFY(runInstallation(source, destination, &prompt, &reports, 60000,
                                [](Installer &installer) {
                                    installer.setWriters(TestEnvironment::writersOfRow());
                                }));
        QVERIFY2(reports.finished == 1 && reports.terminal() == 1, qPrintable(reports.summary()));
        QCOMPARE(listTree(QFile::encodeName(destination)), expected);
        removeTree(QFile::encodeName(destination));
    }
    const int fullRunMs = int(std::max<qint64>(clock.elapsed(), 1));
    const int descriptorsBefore = openDescriptors();
    const int threadsBefore = threads();

    QRandomGenerator random(archive * 2 + destroy + 1);
    QList<qint64> stopNs;
    int cancelled = 0, finished = 0, midway = 0;
    for (int i = 0; i < runsPerRow; ++i) {
        // Most stops land during the copy; some come after it or before it.
        const int delayMs = int(random.bounded(fullRunMs * 4 / 5 + 1));
        const QString destination = work.filePath(QStringLiteral("run-%1").arg(i));
        // Every other run reuses an existing destination, after the question.
        const bool exists = i % 2 == 1;
        if (exists)
            QVERIFY(QDir().mkpath(destination));
        const QString what = QStringLiteral("run %1, stopped after %2 ms").arg(i).arg(delayMs);

        ScriptedPrompt prompt;
        Reports reports;
        auto *installer = new Installer(nullptr, &prompt);
        record(installer, &reports);
        installer->setWriters(TestEnvironment::writersOfRow());
        installer->install(source, destination);
        QCOMPARE(prompt.questions.size(), exists ? 1 : 0);

        QEventLoop loop;
        bool stopped = false;
        QElapsedTimer stopClock;
        QTimer::singleShot(delayMs, Qt::PreciseTimer, &loop, [&] {
            stopClock.start();
            if (destroy) {
                delete installer;
                installer = nullptr;
            } else {
                installer->cancel();
            }
            stopNs << stopClock.nsecsElapsed();
            stopped = true;
            loop.quit();
        });
        QTimer::singleShot(stopBoundMs + delayMs, &loop, &QEventLoop::quit);
        loop.exec();
        QVERIFY2(stopped, qPrintable(what + QStringLiteral(": the stop did not return")));
        QVERIFY2(stopNs.last() < stopBoundMs * 1000000,
                 qPrintable(what + QStringLiteral(": the stop took %1 ms")
                                           .arg(stopNs.last() / 1000000)));
        deliverQueuedReports();

        QVERIFY2(reports.errors.isEmpty(), qPrintable(what + QStringLiteral(": ") + reports.summary()));
        if (destroy)
            QVERIFY2(reports.terminal() <= 1, qPrintable(what + QStringLiteral(": ") + reports.summary()));
        else
            QVERIFY2(reports.terminal() == 1, qPrintable(what + QStringLiteral(": ") + reports.summary()));

        const QMap<QByteArray, QByteArray> installed = listTree(QFile::encodeName(destination));
        const bool marker = QFile::exists(destination + QStringLiteral("/.installed"));
        if (reports.cancelled) {
            QVERIFY2(!marker, qPrintable(what + QStringLiteral(": marker after a cancelled copy")));
            QVERIFY2(installed.isEmpty() && QFileInfo::exists(destination) == exists,
                     qPrintable(what + QStringLiteral(": left behind after a cancel")));
        }
        if (marker || reports.finished) {
            QVERIFY2(marker, qPrintable(what + QStringLiteral(": finished without the marker")));
            QVERIFY2(installed == expected,
                     qPrintable(what + QStringLiteral(": marker on an incomplete installation "
                                                      "(%1 of %2 entries)")
                                       .arg(installed.size())
                                       .arg(expected.size())));
            ++finished;
        } else {
            ++cancelled;
            if (reports.statuses.contains(QStringLiteral("Copying files")))
                ++midway;
        }
        delete installer;
        removeTree(QFile::encodeName(destination));
    }

    // A worker thread ends just after QThread::wait() has returned.
    QTRY_COMPARE_WITH_TIMEOUT(threads(), threadsBefore, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), descriptorsBefore, 5000);

    std::sort(stopNs.begin(), stopNs.end());
    qInfo("%s: %d runs (full run %d ms): %d stopped (%d midway), %d finished; the stop returned "
          "within %.2f ms (median %.2f ms)",
          QTest::currentDataTag(), runsPerRow, fullRunMs, cancelled, midway, finished,
          stopNs.last() / 1e6, stopNs.at(stopNs.size() / 2) / 1e6);
}

void tst_CancelStress::kill_data()
{
    QTest::addColumn<bool>("archive");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<int>("signalNumber");
    for (const int signalNumber : {SIGKILL, SIGTERM}) {
        for (const bool archive : {false, true}) {
            for (const bool existing : {false, true})
                QTest::addRow("%s, %s, %s", archive ? "archive" : "copy",
                              existing ? "over an earlier installation" : "fresh",
                              signalNumber == SIGKILL ? "SIGKILL" : "SIGTERM")
                    << archive << existing << signalNumber;
        }
    }
}

void tst_CancelStress::kill()
{
    QFETCH(bool, archive);
    QFETCH(bool, existing);
    QFETCH(int, signalNumber);
    const QString source = archive ? archiveSource : copySource;
    const QString destination = work.filePath(QStringLiteral("killed"));
    const QByteArray encoded = QFile::encodeName(destination);
    // A complete re-install is the new payload and what the site added; the
    // earlier installation's other files are gone.
    QMap<QByteArray, QByteArray> complete = archive ? expectedArchive : expectedCopy;
    if (existing)
        complete.insert(siteFile, "f:the site's own");

    const auto prepare = [&] {
        removeTree(encoded);
        return !existing
            || QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), earlier, destination})
            == 0;
    };
    Reports reports;
    const auto runHelper = [&](const QString &from, bool answer, int delayMs, QString *why) {
        reports = Reports();
        return runInHelper(QFile::encodeName(from), encoded, false,
                           answer ? QStringList() : QStringList{"ZARVO_RUNNER_ANSWER=no"},
                           &reports, why, delayMs, signalNumber);
    };
    const auto leftovers = [&] {
        QStringList found = QDir(work.path()).entryList(QDir::AllEntries | QDir::Hidden
                                                       | QDir::NoDotAndDotDot)
                                .filter(QStringLiteral("zarvo-transaction"));
        found += QDir(stateDirectory() + QStringLiteral("/transactions"))
                     .entryList(QDir::Files | QDir::Hidden);
        return found.join(QLatin1Char(' '));
    };

    // A whole run first: the re-install itself, and its length spreads the
    // kills over the whole installation.
    QString why;
    QVERIFY(prepare());
    QElapsedTimer clock;
    clock.start();
    QVERIFY2(runHelper(source, true, -1, &why), qPrintable(why));
    const int fullRunMs = int(std::max<qint64>(clock.elapsed(), 1));
    QCOMPARE(listTree(encoded), complete);
    QVERIFY(!listTree(encoded).contains(droppedFile));
    QVERIFY(QFileInfo(destination + QStringLiteral("/.installed")).isFile());

    QRandomGenerator random(quint32(archive * 4 + existing * 2 + (signalNumber == SIGKILL) + 11));
    int asBefore = 0, completed = 0, midway = 0;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < killsPerRow; ++i) {
        QVERIFY(prepare());
        const QMap<QByteArray, QByteArray> before = snapshotTree(encoded, true);
        const int delayMs = int(random.bounded(fullRunMs * 11 / 10 + 1));
        const QString what = QStringLiteral("run %1, signal after %2 ms").arg(i).arg(delayMs);
        QVERIFY2(runHelper(source, true, delayMs, &why), qPrintable(what + QStringLiteral(": ") + why));
        // Caught in the middle: the killed run left work for the next one.
        const QMap<QByteArray, QByteArray> killed = snapshotTree(encoded, true);
        // (Times of the parent noted but nothing begun need no word.)
        const bool interrupted = leftovers().contains(QLatin1String("zarvo-transaction"))
            || (killed != before && !QFileInfo::exists(destination + QStringLiteral("/.installed")));
        midway += interrupted;
        // The next run finds what is left, settles it, and then installs
        // nothing: it declines the question, or has no installation files.
        QVERIFY2(runHelper(work.filePath(QStringLiteral("no-source")), false, -1, &why),
                 qPrintable(what + QStringLiteral(": ") + why));
        // And says so.
        if (interrupted)
            QVERIFY2(reports.statuses.value(0).startsWith(QLatin1String("Restored \""))
                         || reports.statuses.value(0).startsWith(QLatin1String("Completed ")),
                     qPrintable(what + QStringLiteral(": ") + reports.summary()));
        const QMap<QByteArray, QByteArray> after = snapshotTree(encoded, true);
        if (after == before) {
            ++asBefore;
        } else {
            QVERIFY2(listTree(encoded) == complete
                         && QFileInfo(destination + QStringLiteral("/.installed")).isFile(),
                     qPrintable(what + QStringLiteral(": neither as before nor complete")));
            ++completed;
        }
        QVERIFY2(leftovers().isEmpty(), qPrintable(what + QStringLiteral(": left ") + leftovers()));
    }
    qInfo("%s: %d kills (whole run %d ms) in %.1f s, %d left a transaction behind: %d as "
          "before, %d complete, nothing left",
          QTest::currentDataTag(), killsPerRow, fullRunMs, total.elapsed() / 1000.0, midway,
          asBefore, completed);
    removeTree(encoded);
}

ZARVO_TEST_MAIN_CORE(tst_CancelStress)
#include "tst_cancelstress.moc"
