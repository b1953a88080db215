// The installation record: what is written is read back exactly, names of
// any bytes included, the hashes agree with xxhsum's, and a record that is
// damaged in any way is refused with the line that is wrong.

#include "installer/transaction/installationrecord.h"
#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"
#include "util/contenthash.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray goodRecord = "corvane-zarvo-installation-record 1\n"
                              "installer 25.1.3\n"
                              "product Corvane%20Zarvo 25.1.3\n"
                              "date 2026-12-08T11:44:18Z\n"
                              "user 1000 alice\n"
                              "source archive /srv/zarvo.tgz\n"
                              "option install-mode%3Duser\n"
                              "entry d 0755 0 - bin\n"
                              "entry f 0755 3 xxh128:06b05ab6733a618578af5f94892f3950 bin/pesk\n"
                              "entry l 0777 4 - bin/lumo pesk\n"
                              "registration xdg-desktop-menu user /opt/x/icons/x.desktop\n"
                              "end 3 1\n";

// By bytes: a name need not be valid in the locale's encoding.
bool writeFile(const QByteArray &path, const QByteArray &content, mode_t mode)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    const bool ok = fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size();
    return ::close(fd) == 0 && ok && ::chmod(path.constData(), mode) == 0;
}

} // namespace

class tst_InstallationRecord : public QObject
{
    Q_OBJECT

private slots:
    void knownHashes();
    void writtenAndReadBack();
    void damaged_data();
    void damaged();
};

void tst_InstallationRecord::knownHashes()
{
    // The canonical form that xxhsum -H2 prints.
    QCOMPARE(ContentHash::ofBytes(QByteArray()),
             QByteArray("xxh128:99aa06d3014798d86001c324468d497f"));
    ContentHash sparse;
    sparse.add("abc", 3);
    sparse.addZerosUpTo(200000);
    QCOMPARE(sparse.finish(), ContentHash::ofBytes(QByteArray("abc") + QByteArray(200000 - 3, '\0')));
}

void tst_InstallationRecord::writtenAndReadBack()
{
    QTemporaryDir scratch;
    const QByteArray tree = QFile::encodeName(scratch.filePath(QStringLiteral("tree")));
    QVERIFY(QDir().mkpath(QFile::decodeName(tree + "/empty dir")));
    QVERIFY(QDir().mkpath(QFile::decodeName(tree + "/bin")));
    const QByteArray oddName = "bin/a b%c\n\xe9";
    QVERIFY(writeFile(tree + "/" + oddName, "odd", 0600));
    QVERIFY(writeFile(tree + "/bin/pesk", QByteArray(300000, 'p'), 0755));
    QVERIFY(::symlink("a b%c\n\xe9", (tree + "/bin/link").constData()) == 0);
    QVERIFY(writeFile(tree + "/.installed", "", 0644));

    InstallationRecord written = InstallationRecord::forThisRun(
        QStringLiteral("tree"), QStringLiteral("/srv/zarvo tree"), {QStringLiteral("a=b c")});
    QString error;
    QVERIFY2(written.describeTree(QFile::decodeName(tree), &error), qPrintable(error));
    written.registrations << InstallationRecord::Registration{
        QStringLiteral("xdg-icon-resource"), QStringLiteral("system"), QStringLiteral("/x/16 x.png")};
    const QString path = scratch.filePath(QLatin1String(InstallationRecord::fileName));
    QVERIFY2(written.save(path, &error), qPrintable(error));

    InstallationRecord read;
    QVERIFY2(InstallationRecord::load(path, &read, &error), qPrintable(error));
    QCOMPARE(read.toText(), written.toText());
    QCOMPARE(read.date, written.date.addMSecs(-written.date.time().msec()));
    QCOMPARE(read.sourcePath, QStringLiteral("/srv/zarvo tree"));
    QCOMPARE(read.paths(), QSet<QByteArray>({"bin", "bin/link", "bin/pesk", oddName, "empty dir"}));
    for (const InstallationRecord::Entry &entry : read.entries) {
        if (entry.path == oddName)
            QVERIFY(entry.mode == 0600 && entry.size == 3 && entry.hash == ContentHash::ofBytes("odd"));
        if (entry.path == "bin/link")
            QVERIFY(entry.type == InstallationRecord::Entry::Link && entry.target == "a b%c\n\xe9");
    }
    Reliability::removeTree(tree);
}

void tst_InstallationRecord::damaged_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("expected");
    QTest::newRow("another kind of file") << QByteArray("corvane-zarvo-installation-record 1")
                                          << QByteArray("#!/bin/sh") << "line 1: this is not";
    QTest::newRow("a newer format") << QByteArray("record 1\n") << QByteArray("record 2\n")
                                    << "line 1: format version 2 is not known";
    QTest::newRow("cut short") << QByteArray("end 3 1\n") << QByteArray() << "was cut short";
    QTest::newRow("cut inside its last line") << QByteArray("end 3 1\n") << QByteArray("end 3")
                                              << "was cut short";
    QTest::newRow("absolute path") << QByteArray("- bin\n") << QByteArray("- /etc\n")
                                   << "line 8: the path is not relative";
    QTest::newRow("path climbing out") << QByteArray("- bin\n") << QByteArray("- bin/../..\n")
                                       << "line 8: the path has an empty";
    QTest::newRow("path listed twice") << QByteArray("bin/lumo") << QByteArray("bin")
                                       << "line 10: the path is listed twice";
    QTest::newRow("hash of another form") << QByteArray("xxh128:06") << QByteArray("sha256:06")
                                          << "line 9: the content hash";
    QTest::newRow("link without target") << QByteArray(" pesk\n") << QByteArray("\n")
                                         << "line 10: the entry has a wrong number";
    QTest::newRow("mode not octal") << QByteArray("d 0755") << QByteArray("d 0799")
                                    << "line 8: the mode or size";
    QTest::newRow("counts that do not match") << QByteArray("end 3 1") << QByteArray("end 2 1")
                                              << "line 12: the counts";
    QTest::newRow("text after the end") << QByteArray("end 3 1\n") << QByteArray("end 3 1\nx\n")
                                        << "line 13: there is more";
    QTest::newRow("registration in another mode") << QByteArray("menu user") << QByteArray("menu all")
                                                  << "line 11: the registration mode";
    QTest::newRow("entry before the header") << QByteArray("user 1000 alice\n") << QByteArray()
                                             << "line 7: \"entry\" is out of place";
    QTest::newRow("unknown line") << QByteArray("option") << QByteArray("choice")
                                  << "line 7: \"choice\" is not a line";
}

void tst_InstallationRecord::damaged()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, expected);
    InstallationRecord record;
    QString error;
    QVERIFY2(InstallationRecord::parse(goodRecord, QStringLiteral("record"), &record, &error),
             qPrintable(error));
    QByteArray text = goodRecord;
    QVERIFY(text.contains(from));
    text.replace(text.indexOf(from), from.size(), to);
    QVERIFY(!InstallationRecord::parse(text, QStringLiteral("record"), &record, &error));
    QVERIFY2(error.startsWith(QStringLiteral("\"record\"")) && error.contains(expected),
             qPrintable(error));
}

ZARVO_TEST_MAIN_CORE(tst_InstallationRecord)
#include "tst_installationrecord.moc"
