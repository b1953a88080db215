#include "tests/support/testenvironment.h"
#include "tests/util/testarchive.h"
#include "tests/util/tmpfsmount.h"
#include "util/contenthash.h"
#include "util/tar.h"

#include <QDirIterator>
#include <QSignalSpy>

#include <dirent.h>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TestArchive)

namespace {

QStringList texts(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy)
        result << arguments.at(0).toString();
    return result;
}

QList<int> values(const QSignalSpy &spy)
{
    QList<int> result;
    for (const QList<QVariant> &arguments : spy)
        result << arguments.at(0).toInt();
    return result;
}

bool lstatOf(const QByteArray &path, struct stat *st)
{
    return ::lstat(path.constData(), st) == 0;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The names in directory, as bytes.
QByteArrayList namesIn(const QByteArray &directory)
{
    QByteArrayList names;
    if (DIR *dir = ::opendir(directory.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names << name;
        }
        ::closedir(dir);
    }
    return names;
}

class CurrentDirectory
{
public:
    explicit CurrentDirectory(const QString &path) : m_old(QDir::currentPath())
    {
        QDir::setCurrent(path);
    }
    ~CurrentDirectory() { QDir::setCurrent(m_old); }

private:
    QString m_old;
};

} // namespace

class TestTarArchive : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void twoEntries();
    void emptyArchive();
    void restoresModesAndTimes_data();
    void restoresModesAndTimes();
    void hardLinksShareTheInode_data();
    void hardLinksShareTheInode();
    void hardLinkIgnoresTheWorkingDirectory();
    void keepsNameBytes();
    void destinationSpelling_data();
    void destinationSpelling();
    void refusesHostileEntries_data();
    void refusesHostileEntries();
    void brokenInput_data();
    void brokenInput();
    void stopsOnFullDisk_data();
    void stopsOnFullDisk();
    void cancelDuringExtraction_data();
    void cancelDuringExtraction();
    void cancelBeforeCounting();

private:
    // A temporary tree: base/destination for the extraction, base/outside
    // with a victim file (mode 0600) that no entry may reach.
    QScopedPointer<QTemporaryDir> m_temp;
    QString m_base;
    QString m_destination;
    QString m_outside;
    QString m_victim;
};

void TestTarArchive::init()
{
    m_temp.reset(new QTemporaryDir);
    QVERIFY(m_temp->isValid());
    m_base = m_temp->path();
    m_destination = m_base + QStringLiteral("/destination");
    m_outside = m_base + QStringLiteral("/outside");
    m_victim = m_outside + QStringLiteral("/victim");
    QVERIFY(QDir().mkpath(m_destination));
    QVERIFY(QDir().mkpath(m_outside + QStringLiteral("/sub")));
    QFile victim(m_victim);
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("precious");
    victim.close();
    QCOMPARE(::chmod(QFile::encodeName(m_victim).constData(), 0600), 0);
}

void TestTarArchive::twoEntries()
{
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(TestArchive().file("bin/pesk", "#!/bin/sh\n", 0755).directory("lib/").write(archivePath));

    Tar tar;
    QSignalSpy statusSpy(&tar, &Tar::status);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QCOMPARE(tar.countArchiveEntries(archivePath), 2);
    QVERIFY2(tar.extract(archivePath, m_destination, 2), qPrintable(texts(errorSpy).join('\n')));
    QCOMPARE(texts(statusSpy),
             QStringList({QStringLiteral("Extracting \"bin/pesk\" to \"%1/bin/pesk\"").arg(m_destination),
                          QStringLiteral("Extracting \"lib/\" to \"%1/lib/\"").arg(m_destination)}));
    QCOMPARE(values(progressSpy), QList<int>({50, 100}));
    QCOMPARE(readAll(m_destination + QStringLiteral("/bin/pesk")), QByteArray("#!/bin/sh\n"));
    QVERIFY(QFileInfo(m_destination + QStringLiteral("/lib")).isDir());
}

void TestTarArchive::emptyArchive()
{
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(TestArchive().write(archivePath));
    Tar tar;
    QSignalSpy progressSpy(&tar, &Tar::progress);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QCOMPARE(tar.countArchiveEntries(archivePath), 0);
    QVERIFY(tar.extract(archivePath, m_destination, 0));
    QCOMPARE(progressSpy.count(), 0);
    QCOMPARE(errorSpy.count(), 0);
}

void TestTarArchive::restoresModesAndTimes_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<int>("storedMode");
    QTest::addColumn<int>("expectedMode");

    QTest::newRow("private file") << QByteArray("f") << false << 0600 << 0600;
    QTest::newRow("group-writable program") << QByteArray("p") << false << 0775 << 0775;
    QTest::newRow("world-writable file") << QByteArray("w") << false << 0666 << 0666;
    QTest::newRow("read-only directory") << QByteArray("d") << true << 0555 << 0555;
    QTest::newRow("sticky directory") << QByteArray("t") << true << 01777 << 01777;
    QTest::newRow("set-user-ID program loses the bit") << QByteArray("s") << false << 04755 << 0755;
    QTest::newRow("set-group-ID program loses the bit") << QByteArray("g") << false << 02755 << 0755;
    QTest::newRow("set-group-ID directory loses the bit") << QByteArray("gd") << true << 02775 << 0775;
    QTest::newRow("private file (pool)") << QByteArray("f") << false << 0600 << 0600;
    QTest::newRow("group-writable program (pool)") << QByteArray("p") << false << 0775 << 0775;
    QTest::newRow("set-user-ID program loses the bit (pool)") << QByteArray("s") << false << 04755
                                                               << 0755;
}

void TestTarArchive::restoresModesAndTimes()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, isDirectory);
    QFETCH(int, storedMode);
    QFETCH(int, expectedMode);

    TestArchive archive;
    if (isDirectory)
        archive.directory(name, mode_t(storedMode), 1234567890);
    else
        archive.file(name, "data", mode_t(storedMode), 1234567890);
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(archive.write(archivePath));

    // The defaults that a wrong extraction would fall back to are not the stored ones.
    const mode_t old = ::umask(077);
    Tar tar;
    tar.setWriters(TestEnvironment::writersOfRow());
    QSignalSpy errorSpy(&tar, &Tar::error);
    const bool ok = tar.extract(archivePath, m_destination, 1);
    ::umask(old);
    QVERIFY2(ok, qPrintable(texts(errorSpy).join('\n')));
    struct stat st;
    QVERIFY(lstatOf(QFile::encodeName(m_destination) + '/' + name, &st));
    QCOMPARE(int(st.st_mode & 07777), expectedMode);
    QCOMPARE(qint64(st.st_mtime), qint64(1234567890));
}

void TestTarArchive::hardLinksShareTheInode_data()
{
    QTest::addColumn<int>("writers");
    QTest::newRow("one file at a time") << 0;
    QTest::newRow("four at once") << 4;
}

void TestTarArchive::hardLinksShareTheInode()
{
    QFETCH(int, writers);
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(TestArchive()
                .file("lib/libz.so.1", "library", 0755)
                .hardlink("lib/libz.so", "lib/libz.so.1")
                .write(archivePath));
    Tar tar;
    tar.setHashing(true);
    tar.setWriters(writers);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QVERIFY2(tar.extract(archivePath, m_destination, 2), qPrintable(texts(errorSpy).join('\n')));
    struct stat target;
    struct stat link;
    QVERIFY(lstatOf(QFile::encodeName(m_destination + QStringLiteral("/lib/libz.so.1")), &target));
    QVERIFY(lstatOf(QFile::encodeName(m_destination + QStringLiteral("/lib/libz.so")), &link));
    QCOMPARE(link.st_ino, target.st_ino);
    QCOMPARE(int(target.st_nlink), 2);
    // The link has its target's content, and so its hash.
    QCOMPARE(tar.contentHashes().value("lib/libz.so"), ContentHash::ofBytes("library"));
    QCOMPARE(tar.contentHashes().value("lib/libz.so.1"), ContentHash::ofBytes("library"));
}

void TestTarArchive::hardLinkIgnoresTheWorkingDirectory()
{
    // A decoy of the same name where the process happens to be.
    const QString work = m_base + QStringLiteral("/work");
    QVERIFY(QDir().mkpath(work + QStringLiteral("/lib")));
    QFile decoy(work + QStringLiteral("/lib/real"));
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.write("decoy");
    decoy.close();
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(TestArchive()
                .file("lib/real", "genuine")
                .hardlink("lib/alias", "lib/real")
                .write(archivePath));

    CurrentDirectory scope(work);
    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QVERIFY2(tar.extract(archivePath, m_destination, 2), qPrintable(texts(errorSpy).join('\n')));
    QCOMPARE(readAll(m_destination + QStringLiteral("/lib/alias")), QByteArray("genuine"));
    QCOMPARE(readAll(work + QStringLiteral("/lib/real")), QByteArray("decoy"));
    struct stat st;
    QVERIFY(lstatOf(QFile::encodeName(work + QStringLiteral("/lib/real")), &st));
    QCOMPARE(int(st.st_nlink), 1);
    QCOMPARE(QDir::currentPath(), work);
}

void TestTarArchive::keepsNameBytes()
{
    const QByteArray name("caf\xe9/r\xe9sum\xe9.txt");
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(TestArchive().file(name, "latin").write(archivePath));
    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QVERIFY2(tar.extract(archivePath, m_destination, 1), qPrintable(texts(errorSpy).join('\n')));
    struct stat st;
    QVERIFY2(lstatOf(QFile::encodeName(m_destination) + '/' + name, &st),
             qPrintable(snapshot(m_destination).join('\n')));
    QVERIFY(S_ISREG(st.st_mode));
    const QByteArray destination = QFile::encodeName(m_destination);
    QCOMPARE(namesIn(destination), QByteArrayList{"caf\xe9"});
    QCOMPARE(namesIn(destination + "/caf\xe9"), QByteArrayList{"r\xe9sum\xe9.txt"});
    // The toolkit cannot name these to clean them up.
    QCOMPARE(::unlink((destination + '/' + name).constData()), 0);
    QCOMPARE(::rmdir((destination + "/caf\xe9").constData()), 0);
}

void TestTarArchive::destinationSpelling_data()
{
    QTest::addColumn<QString>("spelling");
    QTest::addColumn<QString>("real");

    QTest::newRow("destination reached through a symbolic link") << "linked/dest" << "real/dest";
    QTest::newRow("destination typed with ..") << "real/../real/dest" << "real/dest";
    QTest::newRow("parent is a link, typed with ..") << "linked/../linked/dest" << "real/dest";
}

void TestTarArchive::destinationSpelling()
{
    QFETCH(QString, spelling);
    QFETCH(QString, real);

    QVERIFY(QDir().mkpath(m_base + QStringLiteral("/real/dest")));
    QCOMPARE(::symlink("real", QFile::encodeName(m_base + QStringLiteral("/linked")).constData()), 0);
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(TestArchive().directory("bin").file("bin/pesk", "x").hardlink("bin/p2", "bin/pesk")
                .write(archivePath));
    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QVERIFY2(tar.extract(archivePath, m_base + QLatin1Char('/') + spelling, 3),
             qPrintable(texts(errorSpy).join('\n')));
    QCOMPARE(readAll(m_base + QLatin1Char('/') + real + QStringLiteral("/bin/p2")), QByteArray("x"));
    // The temporary directory's clean-up would empty the target through the link.
    QVERIFY(QFile::remove(m_base + QStringLiteral("/linked")));
}

void TestTarArchive::refusesHostileEntries_data()
{
    QTest::addColumn<TestArchive>("archive");
    QTest::addColumn<QByteArray>("refused");
    QTest::addColumn<QString>("reason");

    // "@OUT" stands for the absolute path of the directory outside.
    const QByteArray out = "@OUT";
    QTest::newRow("absolute name") << TestArchive().file(out + "/victim", "evil") << out + "/victim"
                                   << "absolute names are not installed";
    QTest::newRow("name climbing out") << TestArchive().file("ok", "x").file("../outside/victim", "evil")
                                       << QByteArray("../outside/victim")
                                       << "the name leads out of the destination directory";
    QTest::newRow("name climbing out from below")
        << TestArchive().file("a/../../outside/victim", "evil")
        << QByteArray("a/../../outside/victim") << "the name leads out of the destination directory";
    QTest::newRow("file through a link with an absolute target")
        << TestArchive().symlink("l", out).file("l/victim", "evil") << QByteArray("l/victim")
        << "the path passes through the symbolic link \"@DEST/l\"";
    QTest::newRow("file through a link with a relative target")
        << TestArchive().symlink("l", "../outside").file("l/sub/new", "evil")
        << QByteArray("l/sub/new") << "the path passes through the symbolic link \"@DEST/l\"";
    QTest::newRow("file through a link further down")
        << TestArchive().directory("a").file("a/b", "x").symlink("a/l", "../../outside")
               .file("a/l/victim", "evil")
        << QByteArray("a/l/victim") << "the path passes through the symbolic link \"@DEST/a/l\"";
    QTest::newRow("directory over a link")
        << TestArchive().symlink("l", out + "/sub").directory("l", 0777) << QByteArray("l")
        << "the path passes through the symbolic link \"@DEST/l\"";
    QTest::newRow("hard link to an absolute path")
        << TestArchive().hardlink("h", out + "/victim") << QByteArray("h")
        << "the hard link target \"@OUT/victim\" is absolute";
    QTest::newRow("hard link to an absolute path, with data")
        << TestArchive().hardlink("h", out + "/victim", "evil") << QByteArray("h")
        << "the hard link target \"@OUT/victim\" is absolute";
    QTest::newRow("hard link climbing out")
        << TestArchive().hardlink("h", "../outside/victim", "evil") << QByteArray("h")
        << "the hard link target \"../outside/victim\" leads out of the destination directory";
    QTest::newRow("hard link through a link")
        << TestArchive().symlink("l", "../outside").hardlink("h", "l/victim", "evil")
        << QByteArray("h") << "the path passes through the symbolic link \"@DEST/l\"";
    QTest::newRow("hard link to a link")
        << TestArchive().symlink("l", out + "/victim").hardlink("h", "l", "evil")
        << QByteArray("h") << "the path passes through the symbolic link \"@DEST/l\"";
    QTest::newRow("character device")
        << TestArchive().special("null", '3') << QByteArray("null")
        << "device nodes, pipes and sockets are not installed";
    QTest::newRow("block device")
        << TestArchive().special("disk", '4') << QByteArray("disk")
        << "device nodes, pipes and sockets are not installed";
    QTest::newRow("named pipe")
        << TestArchive().special("pipe", '6') << QByteArray("pipe")
        << "device nodes, pipes and sockets are not installed";
    QByteArray deep;
    while (deep.size() < PATH_MAX)
        deep += "directory/";
    QTest::newRow("path longer than the system allows")
        << TestArchive().file(deep + "file", "x") << deep + "file"
        << "the path is longer than the system allows";
    QTest::newRow("file replacing the destination itself")
        << TestArchive().file(".", "x") << QByteArray(".")
        << "the entry would replace the destination directory itself";
    QTest::newRow("file through a link further down (pool)")
        << TestArchive().directory("a").file("a/b", "x").symlink("a/l", "../../outside")
               .file("a/l/victim", "evil")
        << QByteArray("a/l/victim") << "the path passes through the symbolic link \"@DEST/a/l\"";
    QTest::newRow("file replaced by a link, then a file through it (pool)")
        << TestArchive().file("f", "1").file("l", "x").symlink("l", out).file("l/victim", "evil")
        << QByteArray("l/victim") << "the path passes through the symbolic link \"@DEST/l\"";
    QTest::newRow("hard link through a link (pool)")
        << TestArchive().file("f", "1").symlink("l", "../outside").hardlink("h", "l/victim", "evil")
        << QByteArray("h") << "the path passes through the symbolic link \"@DEST/l\"";
    QTest::newRow("name climbing out (pool)")
        << TestArchive().file("ok", "x").file("../outside/victim", "evil")
        << QByteArray("../outside/victim") << "the name leads out of the destination directory";
}

void TestTarArchive::refusesHostileEntries()
{
    QFETCH(TestArchive, archive);
    QFETCH(QByteArray, refused);
    QFETCH(QString, reason);

    // The test archive holds "@OUT" where the absolute names belong; write it
    // once more with the real path.
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(archive.withPlaceholder("@OUT", QFile::encodeName(m_outside)).write(archivePath));
    refused.replace("@OUT", QFile::encodeName(m_outside));
    reason.replace(QLatin1String("@OUT"), m_outside).replace(QLatin1String("@DEST"), m_destination);

    const QStringList outsideBefore = snapshot(m_outside);
    Tar tar;
    tar.setWriters(TestEnvironment::writersOfRow());
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    QCOMPARE(tar.countArchiveEntries(archivePath), archive.size());
    {
        CurrentDirectory scope(m_outside + QStringLiteral("/sub"));
        QVERIFY(!tar.extract(archivePath, m_destination, archive.size()));
    }

    const QString name = QString::fromLocal8Bit(refused);
    const QString path = refused.startsWith('/') ? name : m_destination + QLatin1Char('/') + name;
    QCOMPARE(texts(errorSpy), QStringList(QStringLiteral("Error extracting \"%1\" to \"%2\": %3")
                                              .arg(name, path, reason)));
    QCOMPARE(progressSpy.count(), archive.size() - 1);
    QCOMPARE(snapshot(m_outside), outsideBefore);
    QCOMPARE(readAll(m_victim), QByteArray("precious"));
    // Nothing but the entries before the refused one.
    const QString reference = m_base + QStringLiteral("/reference");
    QVERIFY(QDir().mkpath(reference));
    QVERIFY(archive.withoutLast().withPlaceholder("@OUT", QFile::encodeName(m_outside))
                .write(archivePath));
    Tar().extract(archivePath, reference, 0);
    QCOMPARE(snapshot(m_destination), snapshot(reference));
}

void TestTarArchive::brokenInput_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    // Data that does not compress, so that the damage lies beyond the first block read.
    quint32 seed = 12345;
    TestArchive archive;
    for (int i = 0; i < 20; ++i) {
        QByteArray data(3000, '\0');
        for (char &c : data)
            c = char((seed = seed * 1103515245u + 12345u) >> 24);
        archive.file("f" + QByteArray::number(i), data);
    }
    const QByteArray good = gzipped(archive.tar());
    QByteArray damaged = good;
    for (int i = good.size() / 2; i < good.size() / 2 + 64; ++i)
        damaged[i] = char(damaged[i] ^ 0x5a);
    QByteArray damagedHeader = archive.tar();
    damagedHeader[3 * 7 * 512 + 148] = '9'; // the checksum of the fourth header

    const QStringList reading{QStringLiteral("Error reading \"@\": ")};
    const QStringList opening{QStringLiteral("Can't open \"@\" for reading: ")};
    // Where the reader notices depends on how far it reads ahead when opening.
    const QStringList either = reading + opening;
    QTest::newRow("damaged compressed data") << damaged << reading;
    QTest::newRow("damaged tar header") << gzipped(damagedHeader) << reading;
    QTest::newRow("truncated archive") << good.left(good.size() / 2) << either;
    QTest::newRow("empty file") << QByteArray() << opening;
    QTest::newRow("text file") << QByteArray("not an archive at all\n") << opening;
    QTest::newRow("compressed text") << gzipped(QByteArray(5000, 'z')) << opening;
    QTest::newRow("missing file") << QByteArray("<none>") << opening;
}

void TestTarArchive::brokenInput()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);

    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    if (content != "<none>") {
        QFile file(archivePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    expected.replaceInStrings(QStringLiteral("@"), archivePath);
    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QCOMPARE(tar.countArchiveEntries(archivePath), -1);
    QCOMPARE(errorSpy.count(), 1);
    const QString message = errorSpy.at(0).at(0).toString();
    bool matches = false;
    for (const QString &prefix : expected) {
        matches = matches
            || (message.startsWith(prefix) && message.endsWith(QLatin1Char('.'))
                && message.size() > prefix.size() + 1);
    }
    QVERIFY2(matches, qPrintable(message));

    // Extracting it anyway stops with one error too.
    QVERIFY(!tar.extract(archivePath, m_destination, 0));
    QCOMPARE(errorSpy.count(), 2);
}

void TestTarArchive::stopsOnFullDisk_data()
{
    QTest::addColumn<int>("writers");
    QTest::newRow("one file at a time") << 0;
    QTest::newRow("four at once") << 4;
}

void TestTarArchive::stopsOnFullDisk()
{
    QFETCH(int, writers);
    const QString disk = m_base + QStringLiteral("/disk");
    QVERIFY(QDir().mkpath(disk));
    TestArchive archive;
    for (int i = 0; i < 8; ++i)
        archive.file("f" + QByteArray::number(i), QByteArray(40 * 1024, char('a' + i)));
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(archive.write(archivePath));

    TmpfsMount mount(disk, "100k");
    if (!mount.isMounted())
        QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs: ") + mount.refusal()));
    Tar tar;
    tar.setWriters(writers);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy statusSpy(&tar, &Tar::status);
    QVERIFY(!tar.extract(archivePath, disk, 8));
    QCOMPARE(errorSpy.count(), 1);
    const QString message = errorSpy.at(0).at(0).toString();
    const QString failing = statusSpy.last().at(0).toString().section(QLatin1Char('"'), 3, 3);
    QVERIFY2(message.startsWith(QStringLiteral("Error writing \"%1\": ").arg(failing))
                 || message.startsWith(QStringLiteral("Error closing \"%1\": ").arg(failing)),
             qPrintable(message + QStringLiteral(" / ") + failing));
    QVERIFY2(message.contains(QString::fromLocal8Bit(strerror(ENOSPC))), qPrintable(message));
    QVERIFY(statusSpy.count() < 8);
}

void TestTarArchive::cancelDuringExtraction_data()
{
    QTest::addColumn<int>("writers");
    QTest::newRow("one file at a time") << 0;
    QTest::newRow("four at once") << 4;
}

void TestTarArchive::cancelDuringExtraction()
{
    QFETCH(int, writers);
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(TestArchive().file("a", "1").file("b", "2").file("c", "3").write(archivePath));
    Tar tar;
    tar.setWriters(writers);
    QSignalSpy cancelSpy(&tar, &Tar::cancelled);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    connect(&tar, &Tar::status, &tar, [&tar] { tar.cancel(); });
    QVERIFY(!tar.extract(archivePath, m_destination, 3));
    QCOMPARE(cancelSpy.count(), 1);
    QCOMPARE(values(progressSpy), QList<int>({33}));
    QCOMPARE(readAll(m_destination + QStringLiteral("/a")), QByteArray("1"));
    QVERIFY(!QFileInfo::exists(m_destination + QStringLiteral("/b")));
    // A cancelled Tar stays cancelled.
    QVERIFY(!tar.extract(archivePath, m_destination, 3));
    QCOMPARE(cancelSpy.count(), 2);
}

void TestTarArchive::cancelBeforeCounting()
{
    const QString archivePath = m_base + QStringLiteral("/zarvo.tgz");
    QVERIFY(TestArchive().file("a", "1").write(archivePath));
    Tar tar;
    QSignalSpy cancelSpy(&tar, &Tar::cancelled);
    tar.cancel();
    QCOMPARE(tar.countArchiveEntries(archivePath), -1);
    QCOMPARE(cancelSpy.count(), 1);
}

ZARVO_TEST_MAIN_CORE(TestTarArchive)
#include "tst_tararchive.moc"
