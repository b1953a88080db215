// A hurried user: installations in both modes stopped after a random
// (seeded) delay, through Installer::cancel and by destroying the Installer.
// Every stop must return (a 10 s bound, a hang detector), end in exactly one
// report, leave no marker after an incomplete copy, and leak no thread and no
// file descriptor.

#include "installer/engine/installer.h"
#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace Reliability;

namespace {
const int runsPerRow = 100;
const qint64 stopBoundMs = 10000;
} // namespace

class tst_CancelStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void stop_data();
    void stop();

private:
    QTemporaryDir scratch;
    std::unique_ptr<TmpfsMount> memory;
    QDir work;
    QString copySource;
    QString archiveSource;
    QMap<QByteArray, QByteArray> expectedCopy;
    QMap<QByteArray, QByteArray> expectedArchive;
};

void tst_CancelStress::initTestCase()
{
    QVERIFY(scratch.isValid());
    // Hundreds of runs in memory where the system allows, so that the disk
    // does not set the pace.
    memory.reset(new TmpfsMount(scratch.filePath(QStringLiteral("memory")), "128m"));
    if (!memory->mounted)
        qInfo("running on disk: cannot mount a tmpfs (%s)", qPrintable(memory->reason));
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
}

void tst_CancelStress::stop_data()
{
    QTest::addColumn<bool>("archive");
    QTest::addColumn<bool>("destroy");
    QTest::newRow("copy, cancelled") << false << false;
    QTest::newRow("archive, cancelled") << true << false;
    QTest::newRow("copy, Installer destroyed") << false << true;
    QTest::newRow("archive, Installer destroyed") << true << true;
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
        QVERIFY(runInstallation(source, destination, &prompt, &reports));
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
        if (reports.cancelled)
            QVERIFY2(!marker, qPrintable(what + QStringLiteral(": marker after a cancelled copy")));
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
            if (!installed.isEmpty() && installed.size() < expected.size())
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

ZARVO_TEST_MAIN_CORE(tst_CancelStress)
#include "tst_cancelstress.moc"
