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

void tst_ArchiveFaults::hostilePayload_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("shown");

    const QString leads = QStringLiteral(
        "Installation Error: \"@D/icons/corvane-zarvo.desktop\" leads to \"@O/%1\", outside the "
        "installation directory \"@D\"; it was left unchanged.");
    QTest::newRow("marker linked to a file outside") << "marker" << QString();
    QTest::newRow("marker linked to a new name outside") << "dangling marker" << QString();
    QTest::newRow("earlier marker linked outside, unpacked tree")
        << "earlier marker" << QString();
    QTest::newRow("desktop entry linked to a file outside")
        << "entry" << leads.arg(QStringLiteral("entry.desktop"));
    QTest::newRow("icons directory linked to a directory outside")
        << "icons" << leads.arg(QStringLiteral("icons/corvane-zarvo.desktop"));
    QTest::newRow("package and script linked to files outside") << "hand-overs" << QString();
}

void tst_ArchiveFaults::hostilePayload()
{
    QFETCH(QString, layout);
    QFETCH(QString, shown);

    QTemporaryDir run(work.filePath(QStringLiteral("hostile-XXXXXX")));
    QVERIFY(run.isValid());
    const QByteArray root = QFile::encodeName(run.path());
    const QByteArray outside = root + "/outside", source = root + "/source";
    const QByteArray destination = root + "/zarvo";
    const QByteArray entry = "[Desktop Entry]\nName=Theirs\nExec=theirs\n";
    const QByteArray script = "#!/bin/sh\nexit 0\n";
    Tree aimedAt{{Entry::File, "victim", "precious", 0644},
                 {Entry::File, "entry.desktop", entry, 0644},
                 {Entry::File, "mime.xml", "<mime-info/>\n", 0644},
                 {Entry::File, "tool", script, 0755},
                 {Entry::Directory, "icons", QByteArray(), 0755},
                 {Entry::File, "icons/corvane-zarvo.desktop", entry, 0644}};
    Tree payload{{Entry::Directory, "bin", QByteArray(), 0755},
                 {Entry::File, "bin/pesk", script, 0755},
                 {Entry::Directory, "libexec", QByteArray(), 0755},
                 {Entry::File, "libexec/xdg-icon-resource", script, 0755},
                 {Entry::File, "libexec/xdg-desktop-menu", script, 0755}};
    if (layout == QLatin1String("icons"))
        payload << Entry{Entry::Symlink, "icons", outside + "/icons", 0777};
    else
        payload << Entry{Entry::Directory, "icons", QByteArray(), 0755};
    for (const QByteArray size : {"16", "24", "32", "48"}) {
        const QByteArray icon = "icons/" + size + 'x' + size;
        aimedAt << Entry{Entry::Directory, icon, QByteArray(), 0755}
                << Entry{Entry::File, icon + "/corvane-zarvo.png", "png", 0644};
        if (layout != QLatin1String("icons"))
            payload << Entry{Entry::Directory, icon, QByteArray(), 0755}
                    << Entry{Entry::File, icon + "/corvane-zarvo.png", "png", 0644};
    }
    if (layout == QLatin1String("entry"))
        payload << Entry{Entry::Symlink, "icons/corvane-zarvo.desktop", outside + "/entry.desktop", 0777};
    else if (layout != QLatin1String("icons"))
        payload << Entry{Entry::File, "icons/corvane-zarvo.desktop", entry, 0644};
    if (layout == QLatin1String("marker") || layout == QLatin1String("dangling marker"))
        payload << Entry{Entry::Symlink, ".installed",
                         outside + (layout == QLatin1String("marker") ? "/victim" : "/new"), 0777};
    if (layout == QLatin1String("hand-overs")) {
        payload << Entry{Entry::Symlink, "lumo-mime.xml", outside + "/mime.xml", 0777}
                << Entry{Entry::Symlink, "post-install.sh", outside + "/tool", 0777};
    }
    QVERIFY(::mkdir(outside.constData(), 0755) == 0 && ::mkdir(source.constData(), 0755) == 0);
    QVERIFY(writeTree(aimedAt, outside));
    QString why;
    if (layout == QLatin1String("earlier marker")) {
        QVERIFY(writeTree(payload, source));
        QVERIFY(::mkdir(destination.constData(), 0755) == 0);
        QVERIFY(::symlink(outside + "/victim", destination + "/.installed") == 0);
    } else {
        QVERIFY2(writeArchive(payload, source + "/zarvo.tgz", &why), qPrintable(why));
    }
    const QMap<QByteArray, QByteArray> before = listTree(outside);

    ScriptedPrompt prompt;
    Reports reports;
    QVERIFY(runInstallation(QFile::decodeName(source), QFile::decodeName(destination), &prompt,
                            &reports));
    QVERIFY2(reports.finished == 1 && reports.errors.isEmpty(), qPrintable(reports.summary()));
    // The after-work as a front end runs it, in a desktop session, from a
    // place that is no build tree; xdg-mime is a fake that does nothing.
    const QString tools = run.filePath(QStringLiteral("tools"));
    QVERIFY(QDir().mkpath(tools));
    QVERIFY(TestEnvironment::writeScript(tools + QStringLiteral("/xdg-mime"), script));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(tools) + ':' + path);
    qputenv("KDE_FULL_SESSION", "true");
    const QString working = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tools));
    Installer installer(nullptr, &prompt);
    const QString installed = QFile::decodeName(destination);
    installLaunchIcons(installer, installed, tools);
    installFileAssociation(installed);
    runPostInstallScript(installed);
    QDir::setCurrent(working);
    qputenv("PATH", path);
    qunsetenv("KDE_FULL_SESSION");

    QCOMPARE(listTree(outside), before);
    QCOMPARE(QDir(run.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({"outside", "source", "tools", "zarvo"}));
    const QFileInfo marker(installed + QStringLiteral("/.installed"));
    QVERIFY(marker.isFile() && !marker.isSymLink());
    QCOMPARE(prompt.messages.join(QLatin1Char('\n')),
             shown.replace(QLatin1String("@D"), installed)
                 .replace(QLatin1String("@O"), QFile::decodeName(outside)));
    QVERIFY(!QFileInfo::exists(installed + QStringLiteral("/lumo-mime.xml")));
    QVERIFY(!QFileInfo::exists(installed + QStringLiteral("/post-install.sh")));
}

ZARVO_TEST_MAIN_CORE(tst_ArchiveFaults)
#include "tst_archivefaults.moc"
