#include "tests/support/testenvironment.h"
#include "tests/util/testarchive.h"
#include "tests/util/tmpfsmount.h"
#include "util/contenthash.h"
#include "util/makepath.h"
#include "util/processumask.h"
#include "util/tar.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>

#include <cerrno>
#include <clocale>
#include <dirent.h>
#include <memory>
#include <fcntl.h>
#include <ftw.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Builds a tree from lines "f name content", "d name", "l name target",
// "p name" (a named pipe) and "s name N" (N MiB, holes but for a few bytes at
// each MiB); "@ROOT" in a link target stands for the tree's own path. An
// absolute name is made where it says.
bool buildTree(const QString &root, const QStringList &items, QString *why)
{
    for (const QString &item : items) {
        const QStringList parts = item.split(QLatin1Char(' '));
        const QString path = parts.value(1).startsWith(QLatin1Char('/'))
            ? parts.value(1)
            : root + QLatin1Char('/') + parts.value(1);
        QDir().mkpath(QFileInfo(path).path());
        bool ok = false;
        if (parts.at(0) == QLatin1String("s")) {
            QFile file(path);
            ok = file.open(QIODevice::WriteOnly) && file.resize(qint64(parts.value(2).toInt()) << 20);
            for (qint64 mib = 0; ok && mib < parts.value(2).toInt(); ++mib)
                ok = file.seek(mib << 20) && file.write(QByteArray::number(mib)) > 0;
        } else if (parts.at(0) == QLatin1String("d")) {
            ok = QDir().mkpath(path);
        } else if (parts.at(0) == QLatin1String("f")) {
            QFile file(path);
            ok = file.open(QIODevice::WriteOnly) && file.write(parts.value(2).toUtf8()) >= 0;
        } else if (parts.at(0) == QLatin1String("l")) {
            QString target = parts.value(2);
            target.replace(QLatin1String("@ROOT"), root);
            ok = ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData())
                == 0;
        } else if (parts.at(0) == QLatin1String("p")) {
            ok = ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        }
        if (!ok) {
            *why = QStringLiteral("cannot make \"%1\"").arg(item);
            return false;
        }
    }
    return true;
}

// Every entry below root, hidden ones included; directories end in "/".
QStringList listTree(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString relative = QDir(root).relativeFilePath(it.filePath());
        found << (it.fileInfo().isDir() && !it.fileInfo().isSymLink() ? relative + QLatin1Char('/')
                                                                       : relative);
    }
    found.sort();
    return found;
}

bool writeFile(const QString &path, const QByteArray &data, mode_t mode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return mode_t(-1);
    return st.st_mode & 07777;
}

class UmaskScope
{
public:
    explicit UmaskScope(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskScope() { ::umask(m_old); }

private:
    mode_t m_old;
};

QStringList texts(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy)
        result << arguments.at(0).toString();
    return result;
}

// The names in a directory as stored, sorted by their bytes.
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
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray contentOf(const QByteArray &path)
{
    QByteArray data;
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return "(cannot open)";
    char buffer[256];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        data.append(buffer, int(got));
    ::close(fd);
    return data;
}

bool writeBytes(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && ok;
}

// The toolkit cannot name what is not valid in its encoding, so it could not
// clean such a tree up.
void removeTree(const QByteArray &root)
{
    ::nftw(
        root.constData(),
        [](const char *path, const struct stat *, int type, struct FTW *) {
            return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
        },
        16, FTW_DEPTH | FTW_PHYS);
}

// The files that the copy visited, by name, in the order it visited them.
QStringList copiedNames(const QSignalSpy &statusSpy)
{
    QStringList names;
    for (const QString &text : texts(statusSpy)) {
        if (text.startsWith(QLatin1String("Copying \"")))
            names << text.section(QLatin1Char('"'), 1, 1);
    }
    return names;
}

} // namespace

class TestTar : public QObject
{
    Q_OBJECT

private slots:
    void copiesTheTree_data();
    void copiesTheTree();
    void skipsTheDestinationInsideTheSource_data();
    void skipsTheDestinationInsideTheSource();
    void refusesToCopyOntoItself_data();
    void refusesToCopyOntoItself();
    void keepsNameBytes_data();
    void keepsNameBytes();
    void listsInTheToolkitsOrder_data();
    void listsInTheToolkitsOrder();
    void copiedModes_data();
    void copiedModes();
    void keepsTimesToTheSecond();
    void fileWhereSourceHasDirectory_data();
    void fileWhereSourceHasDirectory();
    void copyFileFailures_data();
    void copyFileFailures();
    void progressValues_data();
    void progressValues();
    void cancelWhileCopying_data();
    void cancelWhileCopying();
    void cancelledTarStaysCancelled();
    void stopsOnFullDisk_data();
    void stopsOnFullDisk();
    void copiesWhereverTheKernelCannot_data();
    void copiesWhereverTheKernelCannot();
    void makePathResults_data();
    void makePathResults();
    void makePathModes();
    void ensurePathResults();
    void readsUmaskWithoutChangingIt_data();
    void readsUmaskWithoutChangingIt();
};

void TestTar::copiesTheTree_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("errors");

    QTest::newRow("plain files and directories")
        << QStringList{"f a 1", "f sub/b 2", "d empty"}
        << QStringList{"a", "empty/", "sub/", "sub/b"} << 2 << 0;
    QTest::newRow("hidden file and directory are skipped")
        << QStringList{"f a 1", "f .hidden 2", "f .hdir/c 3"} << QStringList{"a"} << 1 << 0;
    QTest::newRow("link to a directory is descended")
        << QStringList{"f real/f 1", "l alias real"}
        << QStringList{"alias/", "alias/f", "real/", "real/f"} << 2 << 0;
    QTest::newRow("link to a file is copied as a file")
        << QStringList{"f target data", "l alias target"} << QStringList{"alias", "target"} << 2
        << 0;
    QTest::newRow("broken link is skipped")
        << QStringList{"f a 1", "l broken nowhere"} << QStringList{"a"} << 1 << 0;
    QTest::newRow("one directory reached through two links is copied twice")
        << QStringList{"f lib/x 1", "l lib64 lib", "l lib32 lib"}
        << QStringList{"lib/", "lib/x", "lib32/", "lib32/x", "lib64/", "lib64/x"} << 3 << 0;
    QTest::newRow("link back to the parent directory")
        << QStringList{"f a/f 1", "l a/loop .."} << QStringList{"a/", "a/f"} << 1 << 0;
    QTest::newRow("link back to the top of the tree")
        << QStringList{"f f 1", "f sub/g 2", "l sub/deeper/top @ROOT"}
        << QStringList{"f", "sub/", "sub/deeper/", "sub/g"} << 2 << 0;
    QTest::newRow("link to itself")
        << QStringList{"f f 1", "l self self"} << QStringList{"f"} << 1 << 0;
    QTest::newRow("named pipe is skipped")
        << QStringList{"f a 1", "p pipe"} << QStringList{"a"} << 1 << 0;
    // Opening it would wait for a writer that never comes.
    QTest::newRow("link to a named pipe is skipped")
        << QStringList{"f a 1", "p .pipe", "l alias .pipe"} << QStringList{"a"} << 1 << 0;
    QTest::newRow("sparse file stays sparse") << QStringList{"s sparse 16"} << QStringList{"sparse"}
                                              << 1 << 0;
    // What an earlier installation (or someone else) left in the destination.
    QTest::newRow("re-install over a link to a file of the earlier installation")
        << QStringList{"f bin/zarvo new", "f @DEST/bin/zarvo-1 old", "l @DEST/bin/zarvo zarvo-1"}
        << QStringList{"bin/", "bin/zarvo", "bin/zarvo-1"} << 1 << 0;
    QTest::newRow("link in the destination to a file outside")
        << QStringList{"f victim evil", "l @DEST/victim @OUT/victim"} << QStringList{"victim"} << 1
        << 0;
    QTest::newRow("link in the destination to a directory outside")
        << QStringList{"f sub/victim evil", "l @DEST/sub @OUT"}
        << QStringList{"sub/", "sub/victim"} << 1 << 0;
    QTest::newRow("link in the destination to a source file")
        << QStringList{"f a 1", "l @DEST/a @ROOT/a"} << QStringList{"a"} << 1 << 0;
    QTest::newRow("link in the destination to a source directory")
        << QStringList{"f sub/a 1", "l @DEST/sub @ROOT/sub"} << QStringList{"sub/", "sub/a"} << 1
        << 0;
    QTest::newRow("named pipe in the destination")
        << QStringList{"f a 1", "p @DEST/a"} << QStringList{"a"} << 1 << 0;
    QTest::newRow("files in many directories (pool)")
        << QStringList{"f a 1", "f b/c 2", "f b/d/e 3", "f b/d/f 4", "s b/g 3", "f h 5", "d i"}
        << QStringList{"a", "b/", "b/c", "b/d/", "b/d/e", "b/d/f", "b/g", "h", "i/"} << 6 << 0;
    QTest::newRow("one directory reached through two links (pool)")
        << QStringList{"f lib/x 1", "l lib64 lib", "l lib32 lib"}
        << QStringList{"lib/", "lib/x", "lib32/", "lib32/x", "lib64/", "lib64/x"} << 3 << 0;
    QTest::newRow("link in the destination to a file outside (pool)")
        << QStringList{"f victim evil", "l @DEST/victim @OUT/victim"} << QStringList{"victim"} << 1
        << 0;
    QTest::newRow("link in the destination to a directory outside (pool)")
        << QStringList{"f sub/victim evil", "l @DEST/sub @OUT"}
        << QStringList{"sub/", "sub/victim"} << 1 << 0;
    QTest::newRow("named pipe in the destination (pool)")
        << QStringList{"f a 1", "p @DEST/a"} << QStringList{"a"} << 1 << 0;
}

void TestTar::copiesTheTree()
{
    QFETCH(QStringList, tree);
    QFETCH(QStringList, expected);
    QFETCH(int, count);
    QFETCH(int, errors);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("source"));
    const QString destination = temp.filePath(QStringLiteral("out/destination"));
    const QString outside = temp.filePath(QStringLiteral("outside"));
    QString why;
    QVERIFY(buildTree(outside, {"f victim precious", "d sub"}, &why));
    tree.replaceInStrings(QStringLiteral("@DEST"), destination);
    QVERIFY2(buildTree(source, tree.replaceInStrings(QStringLiteral("@OUT"), outside), &why),
             qPrintable(why));
    const QStringList before[] = {snapshot(source), snapshot(outside)};

    Tar tar;
    tar.setHashing(true);
    tar.setWriters(TestEnvironment::writersOfRow());
    QCOMPARE(tar.countFiles(source), count);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    QVERIFY(tar.copyDirectory(source, destination, count));
    QVERIFY2(errorSpy.count() == errors, qPrintable(texts(errorSpy).join(QLatin1Char('\n'))));
    QCOMPARE(listTree(destination), expected);
    QCOMPARE(progressSpy.count(), count);
    if (count > 0)
        QCOMPARE(progressSpy.last().at(0).toInt(), 100);
    QCOMPARE(snapshot(source), before[0]);
    QCOMPARE(snapshot(outside), before[1]);
    for (const QString &entry : expected) {
        const QByteArray copy = QFile::encodeName(destination + QLatin1Char('/') + entry);
        const QByteArray original = QFile::encodeName(source + QLatin1Char('/') + entry);
        struct stat copied, read;
        if (entry.endsWith(QLatin1Char('/')) || ::stat(original.constData(), &read) != 0)
            continue;
        QVERIFY2(::lstat(copy.constData(), &copied) == 0 && S_ISREG(copied.st_mode),
                 qPrintable(entry + QStringLiteral(" is no file of its own")));
        QVERIFY2(contentOf(copy) == contentOf(original), qPrintable(entry));
        QVERIFY2(copied.st_blocks <= read.st_blocks + 8, qPrintable(entry + QStringLiteral(" grew")));
        // Hashed as the data passed, holes as the zeros they read as.
        QCOMPARE(tar.contentHashes().value(QFile::encodeName(entry)),
                 ContentHash::ofBytes(contentOf(copy)));
    }
}

void TestTar::skipsTheDestinationInsideTheSource_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("createdFirst");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("files");

    const QStringList plain{"f bin/pesk x", "f a 1"};
    const QStringList copied{"a", "bin/", "bin/pesk"};
    QTest::newRow("directly inside the source") << plain << "install" << true << copied << 2;
    QTest::newRow("directly inside, created by the copy")
        << plain << "install" << false << copied << 2;
    QTest::newRow("inside, holding an earlier installation")
        << QStringList{"f bin/pesk x", "f a 1", "f install/a 1", "f install/bin/pesk x",
                       "f install/old 2"}
        << "install" << true << QStringList{"a", "bin/", "bin/pesk", "old"} << 2;
    QTest::newRow("deeper inside the source")
        << QStringList{"f a 1", "f lib/x 2", "f lib/deep/y 3"} << "lib/deep/install" << true
        << QStringList{"a", "lib/", "lib/deep/", "lib/deep/y", "lib/x"} << 3;
    QTest::newRow("deeper inside, created by the copy")
        << QStringList{"f a 1", "f lib/x 2"} << "lib/deep/install" << false
        << QStringList{"a", "lib/", "lib/deep/", "lib/x"} << 2;
    QTest::newRow("reached through a symbolic link inside the source")
        << QStringList{"f real/f 1", "l alias real"} << "alias/install" << true
        << QStringList{"alias/", "alias/f", "real/", "real/f"} << 2;
    QTest::newRow("a symbolic link inside the source leads to it")
        << QStringList{"f a 1", "d install", "l out install"} << "install" << true
        << QStringList{"a"} << 1;
}

void TestTar::skipsTheDestinationInsideTheSource()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, destination);
    QFETCH(bool, createdFirst);
    QFETCH(QStringList, expected);
    QFETCH(int, files);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("zarvo"));
    const QString target = source + QLatin1Char('/') + destination;
    QString why;
    QVERIFY2(buildTree(source, tree, &why), qPrintable(why));
    if (createdFirst)
        QCOMPARE(makePath(target, 0755), 0);

    Tar tar;
    const int count = tar.countFiles(source, target);
    QCOMPARE(count, files);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    QVERIFY(tar.copyDirectory(source, target, count));
    QVERIFY2(errorSpy.isEmpty(), qPrintable(texts(errorSpy).join(QLatin1Char('\n'))));
    QCOMPARE(listTree(target), expected);
    QCOMPARE(progressSpy.count(), count);
    QCOMPARE(progressSpy.last().at(0).toInt(), 100);
}

void TestTar::refusesToCopyOntoItself_data()
{
    QTest::addColumn<QString>("destination");
    QTest::newRow("the source's own path") << "zarvo";
    QTest::newRow("typed with ..") << "zarvo/bin/../../zarvo";
    QTest::newRow("a symbolic link to the source") << "alias";
}

void TestTar::refusesToCopyOntoItself()
{
    QFETCH(QString, destination);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("zarvo"));
    const QString target = temp.filePath(destination);
    QString why;
    QVERIFY2(buildTree(source, {"f bin/pesk launcher", "f a content"}, &why), qPrintable(why));
    QVERIFY(buildTree(temp.path(), {"l alias zarvo"}, &why));

    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    QVERIFY(!tar.copyDirectory(source, target, tar.countFiles(source, target)));
    QCOMPARE(texts(errorSpy),
             QStringList(QStringLiteral("Could not copy \"%1\" to \"%2\": they are the same directory.")
                             .arg(source, target)));
    QCOMPARE(progressSpy.count(), 0);
    QCOMPARE(contentOf(QFile::encodeName(source + QStringLiteral("/a"))), QByteArray("content"));
    QCOMPARE(contentOf(QFile::encodeName(source + QStringLiteral("/bin/pesk"))),
             QByteArray("launcher"));
}

void TestTar::keepsNameBytes_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QByteArray>("codeset");
    QTest::newRow("LANG=C") << QByteArray("C") << QByteArray("ANSI_X3.4-1968");
    QTest::newRow("LANG=C.UTF-8") << QByteArray("C.UTF-8") << QByteArray("UTF-8");
}

void TestTar::keepsNameBytes()
{
    QFETCH(QByteArray, locale);
    QFETCH(QByteArray, codeset);

    // The locale is taken when the application object starts, so each row
    // runs in a child of this program started under that locale.
    if (!qEnvironmentVariableIsSet("ZARVO_TST_TAR_LOCALE_CHILD")) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("LC_ALL"));
        environment.remove(QStringLiteral("LC_CTYPE"));
        environment.insert(QStringLiteral("LANG"), QString::fromLatin1(locale));
        environment.insert(QStringLiteral("ZARVO_TST_TAR_LOCALE_CHILD"), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("keepsNameBytes:") + QString::fromLatin1(QTest::currentDataTag())});
        QVERIFY2(child.waitForFinished(30000), "the child did not end within 30 s");
        const QString output = QString::fromLocal8Bit(child.readAll());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(output));
        QVERIFY2(output.contains(QLatin1String("PASS   : TestTar::keepsNameBytes(")),
                 qPrintable(output));
        return;
    }

    QCOMPARE(QByteArray(::nl_langinfo(CODESET)), codeset);
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QByteArray base = QFile::encodeName(temp.path());
    const QByteArray source = base + "/source";
    const QByteArray destination = base + "/destination";
    QCOMPARE(::mkdir(source.constData(), 0755), 0);
    QCOMPARE(::mkdir((source + "/r\xe9sum\xe9").constData(), 0755), 0);
    QVERIFY(writeBytes(source + "/r\xe9sum\xe9/caf\xe9", "latin"));
    QVERIFY(writeBytes(source + "/caf\xe8", "other"));
    QVERIFY(writeBytes(source + "/\xc3\x89mile", "utf-8"));
    QVERIFY(writeBytes(source + "/plain", "ascii"));

    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    const int count = tar.countFiles(QFile::decodeName(source), QFile::decodeName(destination));
    const bool copied = tar.copyDirectory(QFile::decodeName(source), QFile::decodeName(destination),
                                          count);
    const QByteArrayList top = namesIn(destination);
    const QByteArrayList inside = namesIn(destination + "/r\xe9sum\xe9");
    const QByteArray latin = contentOf(destination + "/r\xe9sum\xe9/caf\xe9");
    const QByteArray other = contentOf(destination + "/caf\xe8");
    const QByteArray valid = contentOf(destination + "/\xc3\x89mile");
    removeTree(base);

    QCOMPARE(count, 4);
    QVERIFY(copied);
    QVERIFY2(errorSpy.isEmpty(), qPrintable(texts(errorSpy).join(QLatin1Char('\n'))));
    QCOMPARE(top, (QByteArrayList{"caf\xe8", "plain", "r\xe9sum\xe9", "\xc3\x89mile"}));
    QCOMPARE(inside, QByteArrayList{"caf\xe9"});
    QCOMPARE(latin, QByteArray("latin"));
    QCOMPARE(other, QByteArray("other"));
    QCOMPARE(valid, QByteArray("utf-8"));
    QCOMPARE(progressSpy.count(), 4);
    QCOMPARE(progressSpy.last().at(0).toInt(), 100);
}

void TestTar::listsInTheToolkitsOrder_data()
{
    QTest::addColumn<QStringList>("names");

    QTest::newRow("mixed case")
        << QStringList{"b", "A", "a2", "C", "Ab", "aC", "B2", "zz", "Zy"};
    QTest::newRow("digits and punctuation")
        << QStringList{"10", "9", "_x", "-dash", "~tilde", "!bang", "#hash", "+plus", "a.b", "a-b"};
    QTest::newRow("names beyond ASCII")
        << QStringList{QStringLiteral("\u00c9mile"), "eve", "zoe", QStringLiteral("\u00e5ngstr\u00f6m"),
                       "Zed", QStringLiteral("\u0152uvre"), QStringLiteral("\u00e9t\u00e9")};
    QTest::newRow("mixed case (pool)")
        << QStringList{"b", "A", "a2", "C", "Ab", "aC", "B2", "zz", "Zy"};
}

void TestTar::listsInTheToolkitsOrder()
{
    QFETCH(QStringList, names);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(source));
    for (const QString &name : names)
        QVERIFY(writeFile(source + QLatin1Char('/') + name, "x", 0644));
    QStringList expected = QDir(source).entryList();
    expected.removeAll(QStringLiteral("."));
    expected.removeAll(QStringLiteral(".."));
    QCOMPARE(expected.size(), names.size());

    Tar tar;
    tar.setWriters(TestEnvironment::writersOfRow());
    QSignalSpy statusSpy(&tar, &Tar::status);
    QVERIFY(tar.copyDirectory(source, temp.filePath(QStringLiteral("out")), names.size()));
    QCOMPARE(copiedNames(statusSpy), expected);
}

void TestTar::copiedModes_data()
{
    QTest::addColumn<int>("sourceMode");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("expected");

    QTest::newRow("owner-executable under 022") << 0700 << 022 << 0755;
    QTest::newRow("plain file under 022") << 0644 << 022 << 0644;
    QTest::newRow("private file under 022") << 0600 << 022 << 0644;
    QTest::newRow("group and other execute only") << 0677 << 022 << 0644;
    QTest::newRow("owner-executable under 077") << 0744 << 077 << 0700;
    QTest::newRow("owner-executable under 0") << 0500 << 0 << 0777;
    QTest::newRow("set-user-ID is not copied") << 04755 << 022 << 0755;
}

void TestTar::copiedModes()
{
    QFETCH(int, sourceMode);
    QFETCH(int, mask);
    QFETCH(int, expected);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("source"));
    const QString destination = temp.filePath(QStringLiteral("destination"));
    QVERIFY(writeFile(source, "content", mode_t(sourceMode)));

    UmaskScope scope{mode_t(mask)};
    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QVERIFY2(tar.copyFile(source, destination), qPrintable(texts(errorSpy).join(QLatin1Char('\n'))));
    QCOMPARE(int(modeOf(destination)), expected);
    QCOMPARE(processUmask(), mode_t(mask));
}

void TestTar::keepsTimesToTheSecond()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("source"));
    const QString destination = temp.filePath(QStringLiteral("destination"));
    QVERIFY(writeFile(source, QByteArray(10000, 'x'), 0644));
    const struct timespec times[2] = {{1400000000, 250000000}, {1300000000, 750000000}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times, 0), 0);

    Tar tar;
    QVERIFY(tar.copyFile(source, destination));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(destination).constData(), &st), 0);
    QCOMPARE(qint64(st.st_mtim.tv_sec), qint64(1300000000));
    QCOMPARE(qint64(st.st_mtim.tv_nsec), qint64(0));
    QFile copy(destination);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray(10000, 'x'));
}

void TestTar::fileWhereSourceHasDirectory_data()
{
    QTest::addColumn<int>("writers");
    QTest::newRow("one file at a time") << 0;
    QTest::newRow("four at once") << 4;
}

void TestTar::fileWhereSourceHasDirectory()
{
    QFETCH(int, writers);
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("source"));
    const QString destination = temp.filePath(QStringLiteral("destination"));
    QString why;
    QVERIFY2(buildTree(source, {"f sub/a 1", "f sub/b 2", "f z 3"}, &why), qPrintable(why));
    QVERIFY(buildTree(destination, {"f sub blocker"}, &why));

    Tar tar;
    tar.setWriters(writers);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QVERIFY(tar.copyDirectory(source, destination, 3));
    QCOMPARE(texts(errorSpy),
             QStringList({QStringLiteral("Can't open \"%1/sub/a\" for writing.").arg(destination),
                          QStringLiteral("Can't open \"%1/sub/b\" for writing.").arg(destination)}));
    QVERIFY(QFileInfo(destination + QStringLiteral("/z")).isFile());
}

void TestTar::copyFileFailures_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("expected");

    QTest::newRow("missing source") << "missing" << "out"
                                    << "Can't open \"@/missing\" for reading.";
    QTest::newRow("destination in a missing directory") << "present" << "nodir/out"
                                                        << "Can't open \"@/nodir/out\" for writing.";
    QTest::newRow("source is a directory") << "." << "out" << "Error reading from \"@/.\".";
}

void TestTar::copyFileFailures()
{
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(QString, expected);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QVERIFY(writeFile(temp.filePath(QStringLiteral("present")), "x", 0644));
    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy statusSpy(&tar, &Tar::status);
    QVERIFY(!tar.copyFile(temp.filePath(source), temp.filePath(destination)));
    QCOMPARE(texts(errorSpy), QStringList(expected.replace(QLatin1Char('@'), temp.path())));
    QCOMPARE(texts(statusSpy),
             QStringList(QStringLiteral("Copying \"%1\" to \"%2\"")
                             .arg(QFileInfo(temp.filePath(source)).fileName(),
                                  QFileInfo(temp.filePath(destination)).path())));
    QCOMPARE(tar.lastError(), expected);
}

void TestTar::progressValues_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("total");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("three files") << 3 << 3 << QList<int>{33, 66, 100};
    QTest::newRow("total of zero gives no progress") << 2 << 0 << QList<int>{};
    QTest::newRow("empty tree") << 0 << 0 << QList<int>{};
    QTest::newRow("count smaller than the tree") << 3 << 2 << QList<int>{50, 100, 150};
    QTest::newRow("five files (pool)") << 5 << 5 << QList<int>{20, 40, 60, 80, 100};
}

void TestTar::progressValues()
{
    QFETCH(int, files);
    QFETCH(int, total);
    QFETCH(QList<int>, expected);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(source));
    for (int i = 0; i < files; ++i)
        QVERIFY(writeFile(source + QStringLiteral("/f%1").arg(i), "x", 0644));

    Tar tar;
    tar.setWriters(TestEnvironment::writersOfRow());
    QSignalSpy progressSpy(&tar, &Tar::progress);
    QVERIFY(tar.copyDirectory(source, temp.filePath(QStringLiteral("out")), total));
    QList<int> values;
    for (const QList<QVariant> &arguments : progressSpy)
        values << arguments.at(0).toInt();
    QCOMPARE(values, expected);
}

void TestTar::cancelWhileCopying_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("small file finished, the next one not begun")
        << QStringList{"f a/b/1 x", "f a/b/2 x", "f a/b/3 x", "f z x"}
        << QStringList{"a/", "a/b/", "a/b/1"};
    QTest::newRow("large file stopped between two pieces and removed")
        << QStringList{"s a/big 3", "f z x"} << QStringList{"a/"};
    // What was written before the request arrived is all there, at least.
    QTest::newRow("files handed out stop at the next one told (pool)")
        << QStringList{"f a/b/1 x", "f a/b/2 x", "s a/b/3 3", "f z x"}
        << QStringList{"a/", "a/b/", "a/b/1"};
}

void TestTar::cancelWhileCopying()
{
    QFETCH(QStringList, tree);
    QFETCH(QStringList, expected);
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("source"));
    const QString destination = temp.filePath(QStringLiteral("destination"));
    QString why;
    QVERIFY2(buildTree(source, tree, &why), qPrintable(why));

    Tar tar;
    tar.setWriters(TestEnvironment::writersOfRow());
    QSignalSpy cancelSpy(&tar, &Tar::cancelled);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    // The request arrives while the first file is being copied.
    connect(&tar, &Tar::status, &tar, [&tar](const QString &text) {
        if (text.startsWith(QLatin1String("Copying")))
            tar.cancel();
    });
    QVERIFY(!tar.copyDirectory(source, destination, 4));
    QCOMPARE(cancelSpy.count(), 1);
    QCOMPARE(errorSpy.count(), 0);
    QCOMPARE(progressSpy.count(), expected.filter(QRegularExpression("[^/]$")).size());
    if (TestEnvironment::writersOfRow() < 0)
        QCOMPARE(listTree(destination), expected);
    for (const QString &entry : expected)
        QVERIFY2(listTree(destination).contains(entry), qPrintable(entry));
}

void TestTar::cancelledTarStaysCancelled()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    Tar tar;
    QSignalSpy cancelSpy(&tar, &Tar::cancelled);
    tar.cancel();
    QCOMPARE(tar.countFiles(temp.path()), -1);
    QVERIFY(!tar.copyDirectory(temp.path(), temp.filePath(QStringLiteral("out")), 0));
    QCOMPARE(cancelSpy.count(), 2);
    QVERIFY(!QFileInfo::exists(temp.filePath(QStringLiteral("out"))));
}

void TestTar::stopsOnFullDisk_data()
{
    QTest::addColumn<int>("writers");
    QTest::newRow("one file at a time") << 0;
    QTest::newRow("four at once") << 4;
}

void TestTar::stopsOnFullDisk()
{
    QFETCH(int, writers);
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString source = temp.filePath(QStringLiteral("source"));
    const QString disk = temp.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    QVERIFY(QDir().mkpath(source));
    for (int i = 0; i < 8; ++i)
        QVERIFY(writeFile(source + QStringLiteral("/f%1").arg(i), QByteArray(40 * 1024, 'x'), 0644));

    TmpfsMount mount(disk, "100k");
    if (!mount.isMounted())
        QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs: ") + mount.refusal()));

    Tar tar;
    tar.setWriters(writers);
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy statusSpy(&tar, &Tar::status);
    QVERIFY(!tar.copyDirectory(source, disk + QStringLiteral("/out"), 8));
    QCOMPARE(errorSpy.count(), 1);
    const QString message = errorSpy.at(0).at(0).toString();
    QVERIFY2(message.startsWith(QStringLiteral("Error writing to \"%1/out/f").arg(disk))
                 || message.startsWith(QStringLiteral("Can't open \"%1/out/f").arg(disk)),
             qPrintable(message));
    // The directory line, then one line per file tried: none after the failing one.
    const int failing = message.section(QStringLiteral("/out/f"), 1).left(1).toInt();
    QVERIFY2(failing < 7, qPrintable(message));
    QCOMPARE(statusSpy.count(), 1 + failing + 1);
}

// The kernel copies a file's data itself where it can; every other case must
// still arrive complete.
void TestTar::copiesWhereverTheKernelCannot_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("otherFileSystem");

    QTest::newRow("empty file") << QString() << false;
    QTest::newRow("file of many blocks") << QStringLiteral("<large>") << false;
    // procfs reports a size of 0 and copies nothing in the kernel.
    QTest::newRow("file whose size reads as 0") << QStringLiteral("/proc/version") << false;
    QTest::newRow("destination on another file system") << QStringLiteral("<large>") << true;
}

void TestTar::copiesWhereverTheKernelCannot()
{
    QFETCH(QString, source);
    QFETCH(bool, otherFileSystem);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    if (source.isEmpty() || source == QLatin1String("<large>")) {
        QByteArray data;
        if (!source.isEmpty()) {
            quint32 seed = 7;
            data.resize(3 * 1024 * 1024 + 17);
            for (char &c : data)
                c = char((seed = seed * 1103515245u + 12345u) >> 23);
        }
        source = temp.filePath(QStringLiteral("source"));
        QVERIFY(writeFile(source, data, 0644));
    }
    QFile in(source);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray expected = in.readAll();

    const QString disk = temp.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(disk));
    std::unique_ptr<TmpfsMount> mount;
    if (otherFileSystem) {
        mount.reset(new TmpfsMount(disk, "8m"));
        if (!mount->isMounted())
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: ") + mount->refusal()));
    }
    const QString destination = disk + QStringLiteral("/copy");
    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QVERIFY2(tar.copyFile(source, destination), qPrintable(texts(errorSpy).join(QLatin1Char('\n'))));
    QFile out(destination);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QByteArray copied = out.readAll();
    QCOMPARE(copied.size(), expected.size());
    QVERIFY2(copied == expected, "the copy differs from its source");
}

void TestTar::makePathResults_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("error");

    QTest::newRow("existing directory") << "dir" << 0 << 0;
    QTest::newRow("link to a directory") << "dirlink" << 0 << 0;
    QTest::newRow("existing file") << "file" << -1 << EEXIST;
    QTest::newRow("below an existing file") << "file/sub" << -1 << ENOTDIR;
    QTest::newRow("further below an existing file") << "file/a/b" << -1 << ENOTDIR;
    QTest::newRow("missing parents") << "new/a/b" << 0 << 0;
    QTest::newRow("trailing slash") << "new/c/" << 0 << 0;
}

void TestTar::makePathResults()
{
    QFETCH(QString, path);
    QFETCH(int, result);
    QFETCH(int, error);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QString why;
    QVERIFY2(buildTree(temp.path(), {"d dir", "f file x", "l dirlink dir"}, &why), qPrintable(why));
    errno = 0;
    QCOMPARE(makePath(temp.filePath(path), 0755), result);
    if (result != 0)
        QCOMPARE(errno, error);
    else
        QVERIFY(QFileInfo(temp.filePath(path)).isDir());
}

void TestTar::makePathModes()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    UmaskScope scope(027);
    QCOMPARE(makePath(temp.filePath(QStringLiteral("p/q/leaf")), 0755), 0);
    QCOMPARE(int(modeOf(temp.filePath(QStringLiteral("p")))), 0750);
    QCOMPARE(int(modeOf(temp.filePath(QStringLiteral("p/q")))), 0750);
    QCOMPARE(int(modeOf(temp.filePath(QStringLiteral("p/q/leaf")))), 0750);
    QCOMPARE(makePath(temp.filePath(QStringLiteral("p/q/open")), 0700), 0);
    QCOMPARE(int(modeOf(temp.filePath(QStringLiteral("p/q/open")))), 0700);
}

void TestTar::ensurePathResults()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QString why;
    QVERIFY2(buildTree(temp.path(), {"f file x"}, &why), qPrintable(why));
    QVERIFY(ensurePath(temp.filePath(QStringLiteral("file"))));
    QVERIFY(ensurePath(temp.filePath(QStringLiteral("a/b/c"))));
    QVERIFY(QFileInfo(temp.filePath(QStringLiteral("a/b/c"))).isDir());
    QVERIFY(!ensurePath(temp.filePath(QStringLiteral("file/below"))));
}

void TestTar::readsUmaskWithoutChangingIt_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("022") << 022;
    QTest::newRow("077") << 077;
    QTest::newRow("0") << 0;
    QTest::newRow("0257") << 0257;
}

void TestTar::readsUmaskWithoutChangingIt()
{
    QFETCH(int, mask);
    UmaskScope scope{mode_t(mask)};
    QCOMPARE(int(processUmask()), mask);
    QCOMPARE(int(::umask(mode_t(mask))), mask);
}

ZARVO_TEST_MAIN_CORE(TestTar)
#include "tst_tar.moc"
