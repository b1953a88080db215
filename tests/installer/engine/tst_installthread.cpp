#include "installer/engine/installthread.h"
#include "installer/transaction/installationrecord.h"
#include "tests/installer/engine/enginetestsupport.h"
#include "tests/support/testenvironment.h"
#include "tests/util/testarchive.h"
#include "util/tar.h"

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <memory>

namespace {

QString examining(const QString &source)
{
    return QStringLiteral("Examining source directory \"%1\"").arg(source);
}

QString creating(const QString &destination)
{
    return QStringLiteral("Creating destination directory \"%1\"").arg(destination);
}

} // namespace

class TestInstallThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void protocol_data();
    void protocol();
    void gathersMissingLibrariesOfBothPrograms();
    void destroyDuringLargeFile();
    void destroyDuringExtraction();
    void destroyDuringDependencyScans();
    void destroyBeforeStart();

private:
    void runToEnd(InstallThread &thread);

    QScopedPointer<QTemporaryDir> m_temp;
    QString m_source;
    QString m_destination;
};

void TestInstallThread::initTestCase()
{
    // A pipe whose reader gave up must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
}

void TestInstallThread::init()
{
    m_temp.reset(new QTemporaryDir);
    QVERIFY(m_temp->isValid());
    m_source = m_temp->filePath(QStringLiteral("source"));
    m_destination = m_temp->filePath(QStringLiteral("destination"));
    // No real ldd is wanted here; this one finds nothing missing.
    const QString tools = m_temp->filePath(QStringLiteral("tools"));
    QVERIFY(QDir().mkpath(tools));
    QVERIFY(writeFile(m_temp->filePath(QStringLiteral("released")), QByteArray()));
    QVERIFY(installFakeLdd(tools, m_temp->filePath(QStringLiteral("released")),
                           m_temp->filePath(QStringLiteral("ldd.log")), {}));
}

void TestInstallThread::runToEnd(InstallThread &thread)
{
    thread.start();
    QVERIFY(thread.wait(20000));
    deliverPostedReports();
}

void TestInstallThread::protocol_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QStringList>("runSteps");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QStringList>("progress");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QStringList>("installed");

    const QStringList allSteps{"examine", "create", "count", "copy"};
    QTest::newRow("archive") << "archive" << allSteps << QStringList() << QStringList{"50", "100"}
                             << true << QStringList{".installed", "bin/pesk", "lib"};
    QTest::newRow("unpacked tree") << "tree" << allSteps << QStringList()
                                   << QStringList{"50", "100"} << true
                                   << QStringList{".installed", "bin/pesk", "lib/libz.so"};
    QTest::newRow("archive wins over an unpacked tree")
        << "both" << allSteps << QStringList() << QStringList{"50", "100"} << true
        << QStringList{".installed", "bin/pesk", "lib"};
    QTest::newRow("empty archive") << "empty archive" << allSteps << QStringList() << QStringList()
                                   << true << QStringList{".installed"};
    QTest::newRow("existing destination is reused")
        << "existing destination" << allSteps << QStringList() << QStringList{"50", "100"} << true
        << QStringList{".installed", "bin/pesk", "keep", "lib/libz.so"};
    QTest::newRow("reinstall into a destination inside the source")
        << "destination inside source" << allSteps << QStringList() << QStringList{"50", "100"}
        << true << QStringList{".installed", "bin/pesk", "lib/libz.so"};
    QTest::newRow("a file where the installation has a directory is replaced")
        << "blocked file" << allSteps << QStringList() << QStringList{"50", "100"} << true
        << QStringList{".installed", "bin/pesk", "lib/libz.so"};
    QTest::newRow("set-up files never go through a link of the payload")
        << "set-up through a link" << allSteps
        << QStringList{"Could not create directory \"@D/etc\": a symbolic link is in its place."}
        << QStringList{"50", "100"} << false << QStringList();
    QTest::newRow("missing source") << "missing source" << QStringList{"examine"}
                                    << QStringList{"Source directory \"@S\" does not exist."}
                                    << QStringList() << false << QStringList();
    QTest::newRow("profiler's launcher only")
        << "profiler only" << QStringList{"examine"}
        << QStringList{"Corvane Zarvo installation files not found in \"@S\"."} << QStringList()
        << false << QStringList();
    QTest::newRow("destination is a file")
        << "destination file" << QStringList{"examine", "create"}
        << QStringList{"Could not create destination directory \"@D\". File exists"}
        << QStringList() << false << QStringList();
    QTest::newRow("damaged archive") << "damaged archive" << QStringList{"examine", "create", "count"}
                                     << QStringList{"Error reading \"@S/zarvo.tgz\": "}
                                     << QStringList() << false << QStringList();
    QTest::newRow("failed re-install leaves the earlier installation")
        << "damaged archive over an installation" << QStringList{"examine", "create", "count"}
        << QStringList{"Error reading \"@S/zarvo.tgz\": "} << QStringList() << false
        << QStringList{".installed"};
    // Links at the marker are rows of the hostile payloads (tests/reliability).
    QTest::newRow("marker that is a pipe, from before")
        << "marker pipe" << allSteps << QStringList() << QStringList{"50", "100"} << true
        << QStringList{".installed", "bin/pesk", "lib/libz.so"};
}

void TestInstallThread::protocol()
{
    QFETCH(QString, layout);
    QFETCH(QStringList, runSteps);
    QFETCH(QStringList, errors);
    QFETCH(QStringList, progress);
    QFETCH(bool, finished);
    QFETCH(QStringList, installed);

    const QString archive = m_source + QStringLiteral("/zarvo.tgz");
    if (layout == QLatin1String("destination inside source"))
        m_destination = m_source + QStringLiteral("/install");
    if (layout != QLatin1String("missing source"))
        QVERIFY(QDir().mkpath(m_source));
    if (layout == QLatin1String("archive") || layout == QLatin1String("both"))
        QVERIFY(TestArchive().file("bin/pesk", "#!/bin/sh\n", 0755).directory("lib").write(archive));
    if (layout == QLatin1String("empty archive"))
        QVERIFY(TestArchive().write(archive));
    const QString outside = m_temp->filePath(QStringLiteral("outside"));
    if (layout == QLatin1String("set-up through a link")) {
        QVERIFY(QDir().mkpath(outside));
        QVERIFY(TestArchive().file("bin/pesk", "#!/bin/sh\n", 0755)
                    .symlink("etc", QFile::encodeName(outside)).write(archive));
    }
    if (layout.startsWith(QLatin1String("damaged archive"))) {
        // The second header's checksum no longer matches.
        QByteArray tar = TestArchive().file("a", "1").file("b", "2").file("c", "3").tar();
        tar[2 * 512 + 148] = '9';
        QVERIFY(writeFile(archive, gzipped(tar)));
    }
    if (layout == QLatin1String("tree") || layout == QLatin1String("both")
        || layout == QLatin1String("existing destination") || layout == QLatin1String("blocked file")
        || layout == QLatin1String("destination file")
        || layout == QLatin1String("destination inside source")
        || layout == QLatin1String("marker pipe")) {
        QVERIFY(QDir().mkpath(m_source + QStringLiteral("/bin")));
        QVERIFY(QDir().mkpath(m_source + QStringLiteral("/lib")));
        QVERIFY(writeFile(m_source + QStringLiteral("/bin/pesk"), "#!/bin/sh\n"));
        QVERIFY(writeFile(m_source + QStringLiteral("/lib/libz.so"), "library"));
    }
    if (layout == QLatin1String("profiler only")) {
        QVERIFY(QDir().mkpath(m_source + QStringLiteral("/bin")));
        QVERIFY(writeFile(m_source + QStringLiteral("/bin/lumo"), "#!/bin/sh\n"));
    }
    if (layout == QLatin1String("existing destination")) {
        QVERIFY(QDir().mkpath(m_destination));
        QVERIFY(writeFile(m_destination + QStringLiteral("/keep"), "mine"));
    }
    if (layout == QLatin1String("destination inside source")) {
        QVERIFY(QDir().mkpath(m_destination + QStringLiteral("/bin")));
        QVERIFY(QDir().mkpath(m_destination + QStringLiteral("/lib")));
        QVERIFY(writeFile(m_destination + QStringLiteral("/bin/pesk"), "earlier"));
        QVERIFY(writeFile(m_destination + QStringLiteral("/lib/libz.so"), "earlier"));
        QVERIFY(writeFile(m_destination + QStringLiteral("/.installed"), QByteArray()));
    }
    if (layout == QLatin1String("damaged archive over an installation")) {
        QVERIFY(QDir().mkpath(m_destination));
        QVERIFY(writeFile(m_destination + QStringLiteral("/.installed"), QByteArray()));
    }
    if (layout == QLatin1String("marker pipe")) {
        QVERIFY(QDir().mkpath(m_destination));
        QVERIFY(makeFifo(m_destination + QStringLiteral("/.installed")));
    }
    if (layout == QLatin1String("blocked file")) {
        QVERIFY(QDir().mkpath(m_destination));
        QVERIFY(writeFile(m_destination + QStringLiteral("/lib"), "in the way"));
    }
    if (layout == QLatin1String("destination file"))
        QVERIFY(writeFile(m_destination, "in the way"));

    InstallThread thread(m_source, m_destination);
    SignalLog log;
    log.watch(&thread);
    runToEnd(thread);

    const QMap<QString, QString> steps{{"examine", examining(m_source)},
                                       {"create", creating(m_destination)},
                                       {"count", "Counting files"},
                                       {"copy", "Copying files"}};
    QStringList expectedSteps;
    for (const QString &step : runSteps)
        expectedSteps << steps.value(step);
    const QString trace = log.entries.join(QLatin1Char('\n'));
    QVERIFY2(log.runStatuses() == expectedSteps, qPrintable(trace));

    const QStringList reported = log.withPrefix(QStringLiteral("error: "));
    QVERIFY2(reported.size() == errors.size(), qPrintable(trace));
    for (int i = 0; i < errors.size(); ++i) {
        const QString expected = QString(errors.at(i))
                                     .replace(QLatin1String("@S"), m_source)
                                     .replace(QLatin1String("@D"), m_destination);
        QVERIFY2(reported.at(i).startsWith(expected), qPrintable(trace));
    }
    QCOMPARE(log.withPrefix(QStringLiteral("progress: ")), progress);
    QCOMPARE(log.count(QStringLiteral("finished")), finished ? 1 : 0);
    QCOMPARE(log.count(QStringLiteral("cancelled")), 0);
    if (finished) {
        // Nothing of the run itself comes after the end.
        const int end = log.entries.indexOf(QStringLiteral("finished"));
        for (const QString &entry : log.entries.mid(end + 1))
            QVERIFY2(!log.runStatuses().contains(entry.mid(8)), qPrintable(trace));
    }

    QStringList found;
    QDirIterator it(m_destination, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!it.fileInfo().isDir() || QDir(path).isEmpty())
            found << QDir(m_destination).relativeFilePath(path);
    }
    found.sort();
    if (layout == QLatin1String("destination file"))
        found.clear();
    // Every installation holds its modulefile and shell set-up scripts.
    if (finished)
        installed << SiteFiles::installedFiles() << QLatin1String(InstallationRecord::fileName);
    installed.sort();
    QCOMPARE(found, installed);
    const QFileInfo marker(m_destination + QStringLiteral("/.installed"));
    if (finished)
        QVERIFY(marker.isFile() && !marker.isSymLink() && marker.size() == 0);
}

void TestInstallThread::gathersMissingLibrariesOfBothPrograms()
{
    const QString tools = m_temp->filePath(QStringLiteral("tools2"));
    const QString lddLog = m_temp->filePath(QStringLiteral("scans.log"));
    QVERIFY(QDir().mkpath(tools));
    QVERIFY(installFakeLdd(tools, m_temp->filePath(QStringLiteral("released")), lddLog,
                           {{"libexec/zarvo.bin", {"libmpi.so.40", "libpmi.so.0"}},
                            {"libexec/gdb", {"libpython3.11.so.1.0", "libmpi.so.40"}}}));
    QVERIFY(QDir().mkpath(m_source));
    QVERIFY(TestArchive()
                .file("bin/pesk", "#!/bin/sh\n", 0755)
                .file("libexec/zarvo.bin", "program", 0755)
                .file("libexec/gdb", "debugger", 0755)
                .write(m_source + QStringLiteral("/zarvo.tgz")));

    InstallThread thread(m_source, m_destination);
    SignalLog log;
    log.watch(&thread);
    QVERIFY(thread.missingLibraries().isEmpty());
    runToEnd(thread);
    QCOMPARE(log.count(QStringLiteral("finished")), 1);
    QCOMPARE(thread.missingLibraries(),
             QStringList({"libmpi.so.40", "libpmi.so.0", "libpython3.11.so.1.0", "libmpi.so.40"}));
    QFile scans(lddLog);
    QVERIFY(scans.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(scans.readAll()),
             QStringLiteral("%1/libexec/zarvo.bin\n%1/libexec/gdb\n").arg(m_destination));
}

void TestInstallThread::destroyDuringLargeFile()
{
    // The worker waits to open "big" (a lease that the test holds) until the
    // cancel request has been made.
    const QByteArray big(4 * 1024 * 1024, 'b');
    QVERIFY(QDir().mkpath(m_source + QStringLiteral("/a")));
    QVERIFY(QDir().mkpath(m_source + QStringLiteral("/bin")));
    QVERIFY(writeFile(m_source + QStringLiteral("/bin/pesk"), "x"));
    QVERIFY(writeFile(m_source + QStringLiteral("/a/big"), big));
    QVERIFY(writeFile(m_source + QStringLiteral("/a/next"), "n"));

    auto thread = std::make_unique<InstallThread>(m_source, m_destination);
    Tar *tar = thread->findChild<Tar *>();
    QVERIFY(tar);
    SignalLog log;
    log.watch(thread.get());
    FifoPeer peer;
    QVERIFY(peer.leaseUntil(m_source + QStringLiteral("/a/big"),
                            [tar] { return tar->isCancelRequested(); }));
    thread->start();
    QTRY_VERIFY_WITH_TIMEOUT(log.entries.contains(QStringLiteral("status: Copying \"big\" to \"%1/a\"")
                                                      .arg(m_destination)),
                             10000);
    thread.reset();
    peer.join();

    QVERIFY(peer.releasedInTime());
    deliverPostedReports();
    const QString trace = log.entries.join(QLatin1Char('\n'));
    QVERIFY2(log.count(QStringLiteral("cancelled")) == 1, qPrintable(trace));
    QCOMPARE(log.entries.last(), QStringLiteral("cancelled"));
    QCOMPARE(log.count(QStringLiteral("finished")), 0);
    QVERIFY2(log.withPrefix(QStringLiteral("error: ")).isEmpty(), qPrintable(trace));
    // Undone whole: a destination that did not exist does not exist.
    QVERIFY(!QFileInfo::exists(m_destination));
    QCOMPARE(QDir(m_temp->path()).entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot)
                 .filter(QStringLiteral("zarvo")),
             QStringList());
}

void TestInstallThread::destroyDuringExtraction()
{
    // The archive comes through a pipe: whole for counting, and only half
    // for the extraction until the cancel request has been made.
    quint32 seed = 7;
    auto noise = [&seed](int size) {
        QByteArray data(size, '\0');
        for (char &c : data)
            c = char((seed = seed * 1103515245u + 12345u) >> 24);
        return data;
    };
    const QByteArray archive = gzipped(
        TestArchive().file("a", noise(64 * 1024)).file("b", noise(64 * 1024)).file("c", "c").tar());
    QVERIFY(QDir().mkpath(m_source));
    const QString fifo = m_source + QStringLiteral("/zarvo.tgz");
    QVERIFY(makeFifo(fifo));

    auto thread = std::make_unique<InstallThread>(m_source, m_destination);
    Tar *tar = thread->findChild<Tar *>();
    QVERIFY(tar);
    SignalLog log;
    log.watch(thread.get());
    FifoPeer peer;
    peer.feed(fifo, archive, 2, [tar] { return tar->isCancelRequested(); });
    thread->start();
    QTRY_VERIFY_WITH_TIMEOUT(
        !log.withPrefix(QStringLiteral("status: Extracting \"a\"")).isEmpty(), 10000);
    thread.reset();
    peer.join();

    QVERIFY(peer.releasedInTime());
    deliverPostedReports();
    const QString trace = log.entries.join(QLatin1Char('\n'));
    QVERIFY2(log.count(QStringLiteral("cancelled")) == 1, qPrintable(trace));
    QCOMPARE(log.count(QStringLiteral("finished")), 0);
    QVERIFY2(log.withPrefix(QStringLiteral("error: ")).isEmpty(), qPrintable(trace));
    QVERIFY(!QFileInfo::exists(m_destination));
}

void TestInstallThread::destroyDuringDependencyScans()
{
    const QString release = m_temp->filePath(QStringLiteral("scans may end"));
    const QString lddLog = m_temp->filePath(QStringLiteral("scans.log"));
    const QString tools = m_temp->filePath(QStringLiteral("tools2"));
    QVERIFY(QDir().mkpath(tools));
    QVERIFY(installFakeLdd(tools, release, lddLog, {{"libexec/gdb", {"libpython3.so"}}}));
    QVERIFY(QDir().mkpath(m_source + QStringLiteral("/bin")));
    QVERIFY(QDir().mkpath(m_source + QStringLiteral("/libexec")));
    QVERIFY(writeFile(m_source + QStringLiteral("/bin/pesk"), "x"));
    QVERIFY(writeFile(m_source + QStringLiteral("/libexec/zarvo.bin"), "x"));
    QVERIFY(writeFile(m_source + QStringLiteral("/libexec/gdb"), "x"));

    auto thread = std::make_unique<InstallThread>(m_source, m_destination);
    Tar *tar = thread->findChild<Tar *>();
    QVERIFY(tar);
    SignalLog log;
    log.watch(thread.get());
    FifoPeer peer;
    peer.touchAfter(release, [tar] { return tar->isCancelRequested(); });
    thread->start();
    // The marker is written right before the scans, which wait for the release.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_destination + QStringLiteral("/.installed")), 10000);
    thread.reset();
    peer.join();

    QVERIFY(peer.releasedInTime());
    deliverPostedReports();
    const QString trace = log.entries.join(QLatin1Char('\n'));
    QVERIFY2(log.count(QStringLiteral("finished")) == 1, qPrintable(trace));
    QCOMPARE(log.count(QStringLiteral("cancelled")), 0);
    QFile scans(lddLog);
    QVERIFY(scans.open(QIODevice::ReadOnly));
    QCOMPARE(scans.readAll().count('\n'), 2);
}

void TestInstallThread::destroyBeforeStart()
{
    SignalLog log;
    {
        InstallThread thread(m_source, m_destination);
        log.watch(&thread);
    }
    deliverPostedReports();
    QCOMPARE(log.entries, QStringList());
}

ZARVO_TEST_MAIN_CORE(TestInstallThread)
#include "tst_installthread.moc"
