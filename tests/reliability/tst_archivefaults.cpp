// A real installation archive, damaged in many ways: cut short at 200 places
// over its length and with one byte changed at 200 places. Every run must end
// in exactly one terminal report, every error must be one of the engine's
// messages, and a run that reports success must have installed the very
// files of the archive.

#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"
#include "util/tar.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Reliability;

class tst_ArchiveFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sweep_data();
    void sweep();

private:
    bool checksGzipIntegrity();

    QTemporaryDir scratch;
    std::unique_ptr<TmpfsMount> memory;
    QDir work;
    QByteArray pristine;
    QMap<QByteArray, QByteArray> expected;
    bool integrityChecked = false;
};

void tst_ArchiveFaults::initTestCase()
{
    QVERIFY(scratch.isValid());
    // Four hundred installations: in memory where the system allows it.
    memory.reset(new TmpfsMount(scratch.filePath(QStringLiteral("memory")), "128m"));
    if (!memory->mounted)
        qInfo("running on disk: cannot mount a tmpfs (%s)", qPrintable(memory->reason));
    work.setPath(scratch.filePath(QStringLiteral("memory")));
    const Tree tree = generateTree(20251207, 60, 24 * 1024);
    const QByteArray path = QFile::encodeName(work.filePath(QStringLiteral("pristine.tgz")));
    QString why;
    QVERIFY2(writeArchive(tree, path, &why), qPrintable(why));
    QFile file(QFile::decodeName(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    pristine = file.readAll();
    QVERIFY(pristine.size() > 64 * 1024);
    expected = expectedListing(tree, false);

    // The undamaged archive itself installs exactly.
    const QString source = work.filePath(QStringLiteral("pristine-source"));
    QVERIFY(QDir().mkpath(source));
    QVERIFY(QFile::copy(QFile::decodeName(path), source + QStringLiteral("/zarvo.tgz")));
    ScriptedPrompt prompt;
    Reports reports;
    const QString destination = work.filePath(QStringLiteral("pristine-destination"));
    QVERIFY(runInstallation(source, destination, &prompt, &reports));
    QVERIFY2(reports.finished == 1 && reports.terminal() == 1, qPrintable(reports.summary()));
    QCOMPARE(listTree(QFile::encodeName(destination)), expected);

    integrityChecked = checksGzipIntegrity();
    qInfo("gzip integrity check in the engine: %s", integrityChecked ? "present" : "absent");
}

// Whether the reader refuses a gzip stream that inflates cleanly but whose
// CRC-32 does not match its data.
bool tst_ArchiveFaults::checksGzipIntegrity()
{
    QByteArray damaged = pristine;
    const int crc = damaged.size() - 8;
    damaged[crc] = char(damaged.at(crc) ^ 0x5a);
    const QString path = work.filePath(QStringLiteral("bad-crc.tgz"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(damaged) != damaged.size())
        return false;
    file.close();
    Tar tar;
    return tar.countArchiveEntries(path) == -1;
}

void tst_ArchiveFaults::sweep_data()
{
    QTest::addColumn<bool>("truncate");
    QTest::newRow("cut short at 200 offsets") << true;
    QTest::newRow("one byte changed at 200 offsets") << false;
}

void tst_ArchiveFaults::sweep()
{
    QFETCH(bool, truncate);
    QRandomGenerator random(truncate ? 7u : 11u);
    const QString source = work.filePath(truncate ? QStringLiteral("cut") : QStringLiteral("flip"));
    QVERIFY(QDir().mkpath(source));
    const QString archive = source + QStringLiteral("/zarvo.tgz");

    int errors = 0, intact = 0, damaged = 0, refusedBeforeWriting = 0;
    for (int i = 0; i < 200; ++i) {
        QByteArray data = pristine;
        QString what;
        if (truncate) {
            // Spread over the whole length, from the empty file to one byte short.
            const int length = int(qint64(i) * (pristine.size() - 1) / 199);
            data.truncate(length);
            what = QStringLiteral("cut to %1 bytes").arg(length);
        } else {
            const int offset = int(random.bounded(pristine.size()));
            const char change = char(1 + random.bounded(255));
            data[offset] = char(data.at(offset) ^ change);
            what = QStringLiteral("byte %1 changed").arg(offset);
        }
        QFile file(archive);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(data), qint64(data.size()));
        file.close();

        const QString destination = work.filePath(QStringLiteral("dest-%1").arg(i));
        ScriptedPrompt prompt;
        Reports reports;
        QVERIFY2(runInstallation(source, destination, &prompt, &reports),
                 qPrintable(what + QStringLiteral(": no terminal report (hang)")));
        QVERIFY2(reports.terminal() == 1 && reports.cancelled == 0,
                 qPrintable(what + QStringLiteral(": ") + reports.summary()));
        for (const QString &error : qAsConst(reports.errors))
            QVERIFY2(isKnownError(error), qPrintable(what + QStringLiteral(": unknown error: ") + error));

        const QMap<QByteArray, QByteArray> installed = listTree(QFile::encodeName(destination));
        const bool marker = QFile::exists(destination + QStringLiteral("/.installed"));
        if (reports.finished) {
            QVERIFY2(marker, qPrintable(what + QStringLiteral(": finished without the marker")));
            if (installed == expected) {
                ++intact;
            } else {
                // A damaged archive that inflates without complaint installs
                // damaged files unless the gzip checksum is verified.
                QVERIFY2(!truncate && !integrityChecked,
                         qPrintable(what + QStringLiteral(": reported success, installed tree "
                                                          "differs from the archive")));
                ++damaged;
            }
        } else {
            ++errors;
            QVERIFY2(!marker, qPrintable(what + QStringLiteral(": marker after an error")));
            if (installed.isEmpty())
                ++refusedBeforeWriting;
            else if (integrityChecked && !truncate)
                QFAIL(qPrintable(what + QStringLiteral(": the damage was found only after %1 "
                                                       "entries had been written")
                                         .arg(installed.size())));
        }
        removeTree(QFile::encodeName(destination));
    }
    qInfo("%s: 200 runs, %d errors (%d before anything was written), %d intact installations, "
          "%d damaged installations reported as success",
          QTest::currentDataTag(), errors, refusedBeforeWriting, intact, damaged);
}

ZARVO_TEST_MAIN_CORE(tst_ArchiveFaults)
#include "tst_archivefaults.moc"
