// A real installation archive, damaged in many ways: cut short at 200 places
// over its length and with one byte changed at 200 places. Every run must end
// in exactly one terminal report, every error must be one of the engine's
// messages, and a run that reports success must have installed the very
// files of the archive. Then payloads that aim the marker and the desktop
// integration at files outside the destination: a whole installation, the
// after-work included, must leave everything outside as it was.

#include "installer/desktop/fileassociation.h"
#include "installer/desktop/launchicons.h"
#include "installer/desktop/postinstallscript.h"
#include "installer/engine/installer.h"
#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"
#include "util/tar.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Reliability;

class tst_ArchiveFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sweep_data();
    void sweep();
    void hostilePayload_data();
    void hostilePayload();

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
    if (!memory->isMounted())
        qInfo("running on disk: cannot mount a tmpfs (%s)", qPrintable(memory->refusal()));
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

Q_DECLARE_METATYPE(Reliability::Entry)

void tst_ArchiveFaults::hostilePayload_data()
{
    // Entries of the archive, or of the destination before a tree copy; "@O"
    // is the directory outside.
    QTest::addColumn<Tree>("hostile");
    QTest::addColumn<bool>("earlier");
    QTest::addColumn<QString>("shown");

    const auto link = [](const char *name, const char *target) {
        return Entry{Entry::Symlink, name, target, 0777};
    };
    const QString leads = QStringLiteral("\"@D/icons/corvane-zarvo.desktop\" leads to \"@O/%1\"");
    QTest::newRow("marker linked to a file outside")
        << Tree{link(".installed", "@O/victim")} << false << QString();
    QTest::newRow("marker linked to a new name outside")
        << Tree{link(".installed", "@O/new")} << false << QString();
    QTest::newRow("earlier marker linked outside, tree copy")
        << Tree{link(".installed", "@O/victim")} << true << QString();
    QTest::newRow("desktop entry linked to a file outside")
        << Tree{{Entry::Directory, "icons", QByteArray(), 0755},
                link("icons/corvane-zarvo.desktop", "@O/corvane-zarvo.desktop")}
        << false << leads.arg(QStringLiteral("corvane-zarvo.desktop"));
    QTest::newRow("icons directory linked outside")
        << Tree{link("icons", "@O")} << false << leads.arg(QStringLiteral("corvane-zarvo.desktop"));
    QTest::newRow("package and script linked to files outside")
        << Tree{link("lumo-mime.xml", "@O/victim"), link("post-install.sh", "@O/tool")} << false
        << QString();
}

void tst_ArchiveFaults::hostilePayload()
{
    QFETCH(Tree, hostile);
    QFETCH(bool, earlier);
    QFETCH(QString, shown);

    QTemporaryDir run(work.filePath(QStringLiteral("hostile-XXXXXX")));
    QVERIFY(run.isValid());
    const QByteArray root = QFile::encodeName(run.path());
    const QByteArray outside = root + "/outside", source = root + "/source";
    const QByteArray destination = root + "/zarvo", script = "#!/bin/sh\nexit 0\n";
    for (Entry &entry : hostile)
        entry.data.replace("@O", outside);
    const Tree aimedAt{{Entry::File, "victim", "precious", 0644},
                       {Entry::File, "tool", script, 0755},
                       {Entry::File, "corvane-zarvo.desktop", "[Desktop Entry]\nExec=x\n", 0644}};
    const Tree payload{{Entry::Directory, "bin", QByteArray(), 0755},
                       {Entry::File, "bin/pesk", script, 0755}};
    QVERIFY(::mkdir(outside, 0755) == 0 && ::mkdir(source, 0755) == 0 && writeTree(aimedAt, outside));
    QString why;
    if (earlier)
        QVERIFY(writeTree(payload, source) && ::mkdir(destination, 0755) == 0
                && writeTree(hostile, destination));
    else
        QVERIFY2(writeArchive(payload + hostile, source + "/zarvo.tgz", &why), qPrintable(why));
    const QMap<QByteArray, QByteArray> before = listTree(outside);

    ScriptedPrompt prompt;
    Reports reports;
    const QString installed = QFile::decodeName(destination);
    QVERIFY(runInstallation(QFile::decodeName(source), installed, &prompt, &reports));
    QVERIFY2(reports.finished == 1 && reports.errors.isEmpty(), qPrintable(reports.summary()));
    // The after-work as a front end runs it, from a place that is no build
    // tree and without xdg-mime on the search path.
    const QString working = QDir::currentPath();
    const QByteArray path = qgetenv("PATH");
    QVERIFY(QDir::setCurrent(QFile::decodeName(source)));
    qputenv("PATH", source);
    Installer installer(nullptr, &prompt);
    installLaunchIcons(installer, installed, QDir::currentPath());
    installFileAssociation(installed);
    runPostInstallScript(installed);
    qputenv("PATH", path);
    QDir::setCurrent(working);

    QCOMPARE(listTree(outside), before);
    QCOMPARE(QDir(run.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({"outside", "source", "zarvo"}));
    const QFileInfo marker(installed + QStringLiteral("/.installed"));
    QVERIFY(marker.isFile() && !marker.isSymLink());
    const QString told = prompt.messages.join(QLatin1Char('\n'));
    QVERIFY2(told.contains(shown.replace(QLatin1String("@D"), installed)
                                   .replace(QLatin1String("@O"), QFile::decodeName(outside))),
             qPrintable(told));
    QVERIFY(!QFileInfo::exists(installed + QStringLiteral("/lumo-mime.xml"))
            && !QFileInfo::exists(installed + QStringLiteral("/post-install.sh")));
}

ZARVO_TEST_MAIN_CORE(tst_ArchiveFaults)
#include "tst_archivefaults.moc"
