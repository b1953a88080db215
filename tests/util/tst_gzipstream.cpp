#include "tests/support/testenvironment.h"
#include "tests/util/testarchive.h"
#include "util/gzipstream.h"
#include "util/tar.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include <sys/stat.h>

namespace {

// One gzip member of data, written by zlib (an encoder independent of the
// reader under test).
QByteArray gzipMember(const QByteArray &data, int level = 6)
{
    z_stream z;
    std::memset(&z, 0, sizeof z);
    deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

// Text-like data that compresses, or random data that does not.
QByteArray sample(int size, bool random, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = random ? char(generator.generate())
                         : "the quick brown fox jumps\n"[(i * 7 + int(generator.bounded(3))) % 26];
    return data;
}

// A plain tar (ustar) archive of name/content pairs, written by libarchive.
QByteArray tarOf(const QList<QPair<QByteArray, QByteArray>> &files)
{
    QByteArray buffer(64 * 1024 * 1024, '\0');
    size_t used = 0;
    archive *writer = archive_write_new();
    archive_write_set_format_ustar(writer);
    archive_write_open_memory(writer, buffer.data(), size_t(buffer.size()), &used);
    for (const auto &file : files) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, file.first.constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, file.second.size());
        archive_write_header(writer, entry);
        archive_write_data(writer, file.second.constData(), size_t(file.second.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    buffer.resize(int(used));
    return buffer;
}

struct ReadResult
{
    bool ok = false;
    QByteArray data;
    QString error;
};

ReadResult readAll(const QString &path)
{
    ReadResult result;
    GzipStream stream(path);
    if (!stream.open()) {
        result.error = stream.errorString();
        return result;
    }
    const void *piece = nullptr;
    ssize_t n;
    while ((n = stream.read(&piece)) > 0)
        result.data.append(static_cast<const char *>(piece), int(n));
    result.ok = n == 0;
    result.error = stream.errorString();
    if (result.ok && quint64(result.data.size()) != stream.totalOut()) {
        result.ok = false;
        result.error = QStringLiteral("totalOut %1 differs from the data read").arg(stream.totalOut());
    }
    return result;
}

QString tarText(const char *text)
{
    return QCoreApplication::translate("Tar", text);
}

struct ArchiveDeleter
{
    void operator()(archive *a) const { archive_read_free(a); }
};

} // namespace

class TestGzipStream : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatWasCompressed_data();
    void readsWhatWasCompressed();
    void refusesDamage_data();
    void refusesDamage();
    void reportsTheSystemsReason();
    void handsOutWhatAPipeHasDelivered();
    void closesWhileInflatingAhead();
    void feedsLibarchive();
    void finishFindsDamageBehindTheArchiveEnd();
    void damageBecomesTheArchivesError();
    void countingRefusesDamage_data();
    void countingRefusesDamage();
    void installsMultiMemberArchives();

private:
    QString write(const QByteArray &bytes)
    {
        const QString path = dir.filePath(QStringLiteral("f%1.gz").arg(++files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QTemporaryDir dir;
    int files = 0;
};

void TestGzipStream::readsWhatWasCompressed_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray text = sample(3 * 1024 * 1024 + 17, false, 1);
    const QByteArray noise = sample(700 * 1024 + 3, true, 2);
    const QByteArray small = "bin/pesk\n";

    QTest::newRow("empty member") << gzipMember(QByteArray()) << QByteArray();
    QTest::newRow("small member") << gzipMember(small) << small;
    QTest::newRow("text larger than the buffers") << gzipMember(text) << text;
    QTest::newRow("incompressible data") << gzipMember(noise, 9) << noise;
    QTest::newRow("stored blocks (level 0)") << gzipMember(noise, 0) << noise;
    QTest::newRow("two members") << gzipMember(text) + gzipMember(noise) << text + noise;
    QTest::newRow("three members, one empty")
        << gzipMember(small) + gzipMember(QByteArray()) + gzipMember(small) << small + small;
    // gzip without -n records the file name; some writers add a comment too.
    QByteArray named = gzipMember(small);
    named[3] = char(0x08 | 0x10);
    named.insert(10, QByteArray("zarvo.tar\0packed for the installer\0", 35));
    QTest::newRow("header with file name and comment") << named << small;
    QTest::newRow("zero padding after the last member")
        << gzipMember(small) + QByteArray(10000, '\0') << small;
    QTest::newRow("plain data passes through") << text << text;
    QTest::newRow("empty file") << QByteArray() << QByteArray();
}

void TestGzipStream::readsWhatWasCompressed()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, expected);

    const ReadResult result = readAll(write(file));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.data.size(), expected.size());
    QVERIFY2(result.data == expected, "the data read differs from what was compressed");
}

void TestGzipStream::refusesDamage_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("error");

    const QByteArray text = sample(400 * 1024, false, 3);
    const QByteArray good = gzipMember(text);
    const int size = good.size();
    const QString checksum = tarText("Damaged compressed data: checksum or length does not match");
    const QString truncated = tarText("Truncated compressed data");

    QByteArray badCrc = good;
    badCrc[size - 8] = char(badCrc[size - 8] ^ 0x01);
    QTest::newRow("wrong CRC-32") << badCrc << checksum;

    QByteArray badLength = good;
    badLength[size - 4] = char(badLength[size - 4] ^ 0x01);
    QTest::newRow("wrong length") << badLength << checksum;

    QTest::newRow("second member has a wrong CRC-32")
        << gzipMember("first\n") + badCrc << checksum;
    QTest::newRow("truncated in the middle") << good.left(size / 2) << truncated;
    QTest::newRow("trailer missing") << good.left(size - 8) << truncated;
    QTest::newRow("trailer cut short") << good.left(size - 3) << truncated;
    QTest::newRow("only the header") << good.left(10) << truncated;
    QTest::newRow("only the magic") << good.left(2) << truncated;

    QByteArray method = good;
    method[2] = 7;
    QTest::newRow("compression method is not deflate")
        << method << tarText("Unsupported gzip compression method");

    QByteArray invalidBlock = good;
    invalidBlock[10] = char(0x07); // block type 3 does not exist
    QTest::newRow("invalid deflate block") << invalidBlock << tarText("Damaged compressed data");

    QTest::newRow("garbage after the last member")
        << good + QByteArray("\0\0garbage", 9) << tarText("Unexpected data after the compressed data");
}

void TestGzipStream::refusesDamage()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, error);

    const ReadResult result = readAll(write(file));
    QVERIFY2(!result.ok, "damaged data was read as if it were sound");
    QCOMPARE(result.error, error);
}

void TestGzipStream::reportsTheSystemsReason()
{
    GzipStream missing(dir.filePath(QStringLiteral("missing.gz")));
    QVERIFY(!missing.open());
    QCOMPARE(missing.errorString(), QString::fromLocal8Bit(std::strerror(ENOENT)));

    GzipStream directory(dir.path());
    QVERIFY(!directory.open());
    QCOMPARE(directory.errorString(), QString::fromLocal8Bit(std::strerror(EISDIR)));
}

// The install thread's cancel request is looked at between entries; a reader
// that waited for a full buffer from a slow pipe would hold it back.
void TestGzipStream::handsOutWhatAPipeHasDelivered()
{
    const QByteArray text = sample(2 * 1024 * 1024, false, 8);
    const QByteArray member = gzipMember(text);
    const QString fifo = dir.filePath(QStringLiteral("pipe.gz"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);

    std::atomic<bool> firstPieceSeen(false);
    bool waitedInVain = false;
    std::thread writer([&] {
        QFile out(fifo);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        out.write(member.left(20000));
        QElapsedTimer clock;
        clock.start();
        while (!firstPieceSeen.load() && clock.elapsed() < 5000)
            QThread::msleep(5);
        waitedInVain = !firstPieceSeen.load();
        out.write(member.mid(20000));
    });

    GzipStream stream(fifo);
    QVERIFY(stream.open());
    QByteArray data;
    const void *piece;
    ssize_t n;
    while ((n = stream.read(&piece)) > 0) {
        data.append(static_cast<const char *>(piece), int(n));
        firstPieceSeen.store(true);
    }
    writer.join();
    QVERIFY2(!waitedInVain, "the reader waited for more input before handing out what it had");
    QCOMPARE(n, ssize_t(0));
    QVERIFY(data == text);
}

// A cancelled extraction closes the stream while it is inflating ahead; it
// must stop, and the file must read from the start when opened again.
void TestGzipStream::closesWhileInflatingAhead()
{
    const QByteArray text = sample(6 * 1024 * 1024, false, 9);
    const QString path = write(gzipMember(text));
    GzipStream stream(path);
    for (int attempt = 0; attempt < 3; ++attempt) {
        QVERIFY(stream.open());
        const void *piece;
        QVERIFY(stream.read(&piece) > 0);
        stream.close();
    }
    QVERIFY(stream.open());
    QByteArray data;
    const void *piece;
    ssize_t n;
    while ((n = stream.read(&piece)) > 0)
        data.append(static_cast<const char *>(piece), int(n));
    QCOMPARE(n, ssize_t(0));
    QVERIFY2(data == text, "reading again after a close gave other data");
}

void TestGzipStream::feedsLibarchive()
{
    const QList<QPair<QByteArray, QByteArray>> files = {
        {"bin/pesk", "#!/bin/sh\n"},
        {"lib/big.so", sample(1500 * 1024, true, 4)},
        {"doc/RELEASE-NOTES", sample(90 * 1024, false, 5)},
    };
    const QByteArray tar = tarOf(files);
    // Split into two members, cut inside the second entry's data.
    const QString path = write(gzipMember(tar.left(700 * 1024)) + gzipMember(tar.mid(700 * 1024)));

    GzipStream stream(path);
    QVERIFY2(stream.open(), qPrintable(stream.errorString()));
    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    archive_read_support_format_tar(reader.get());
    QCOMPARE(stream.openArchive(reader.get()), ARCHIVE_OK);

    archive_entry *entry = nullptr;
    int index = 0;
    int result;
    while ((result = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        QVERIFY(index < files.size());
        QCOMPARE(QByteArray(archive_entry_pathname(entry)), files[index].first);
        QByteArray content;
        const void *block;
        size_t size;
        la_int64_t offset;
        int r;
        while ((r = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK)
            content.append(static_cast<const char *>(block), int(size));
        QCOMPARE(r, ARCHIVE_EOF);
        QVERIFY2(content == files[index].second, files[index].first.constData());
        ++index;
    }
    QVERIFY2(result == ARCHIVE_EOF, archive_error_string(reader.get()));
    QCOMPARE(index, files.size());
    QVERIFY2(stream.finish(), qPrintable(stream.errorString()));
    QCOMPARE(stream.totalOut(), quint64(tar.size()));
}

// libarchive stops at the end-of-archive blocks; damage in the trailer after
// them is only seen when the rest of the stream is read.
void TestGzipStream::finishFindsDamageBehindTheArchiveEnd()
{
    QByteArray file = gzipMember(tarOf({{"bin/pesk", "#!/bin/sh\n"}}));
    file[file.size() - 6] = char(file[file.size() - 6] ^ 0x40);

    GzipStream stream(write(file));
    QVERIFY(stream.open());
    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    archive_read_support_format_tar(reader.get());
    QCOMPARE(stream.openArchive(reader.get()), ARCHIVE_OK);
    archive_entry *entry = nullptr;
    int result;
    while ((result = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
    }
    if (result == ARCHIVE_EOF)
        QVERIFY2(!stream.finish(), "finish() accepted a wrong CRC-32");
    QCOMPARE(stream.errorString(),
             tarText("Damaged compressed data: checksum or length does not match"));
}

void TestGzipStream::damageBecomesTheArchivesError()
{
    const QByteArray tar = tarOf({{"lib/big.so", sample(2 * 1024 * 1024, true, 6)}});
    const QString path = write(gzipMember(tar).left(1024 * 1024));

    GzipStream stream(path);
    QVERIFY(stream.open());
    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    archive_read_support_format_tar(reader.get());
    QCOMPARE(stream.openArchive(reader.get()), ARCHIVE_OK);
    archive_entry *entry = nullptr;
    QCOMPARE(archive_read_next_header(reader.get(), &entry), ARCHIVE_OK);
    const void *block;
    size_t size;
    la_int64_t offset;
    int r;
    while ((r = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
    }
    QVERIFY(r != ARCHIVE_EOF);
    QCOMPARE(QString::fromLocal8Bit(archive_error_string(reader.get())),
             tarText("Truncated compressed data"));
}

// The install thread counts before it extracts: damage that still inflates
// must stop it there, before a single file is written.
void TestGzipStream::countingRefusesDamage_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason");

    TestArchive archive;
    archive.directory("bin/").file("bin/pesk", "#!/bin/sh\n", 0755);
    for (int i = 0; i < 6; ++i)
        archive.file("lib/lib" + QByteArray::number(i) + ".so", sample(200 * 1024, true, 10 + i));
    const QByteArray good = gzipMember(archive.tar());
    const int size = good.size();
    const QString checksum = tarText("Damaged compressed data: checksum or length does not match");

    QByteArray badCrc = good;
    badCrc[size - 5] = char(badCrc[size - 5] ^ 0x80);
    QTest::newRow("wrong CRC-32") << badCrc << checksum;
    QByteArray badLength = good;
    badLength[size - 1] = char(badLength[size - 1] ^ 0x01);
    QTest::newRow("wrong length") << badLength << checksum;
    const QByteArray tar = archive.tar();
    QByteArray firstBad = gzipMember(tar.left(512 * 1024));
    firstBad[firstBad.size() - 8] = char(firstBad[firstBad.size() - 8] ^ 0x01);
    QTest::newRow("first of two members has a wrong CRC-32")
        << firstBad + gzipMember(tar.mid(512 * 1024)) << checksum;
    QTest::newRow("trailer missing") << good.left(size - 8) << tarText("Truncated compressed data");
    QTest::newRow("garbage after the archive")
        << good + QByteArray("PK\3\4") << tarText("Unexpected data after the compressed data");
    QTest::newRow("missing file") << QByteArray("<none>")
                                  << QString::fromLocal8Bit(std::strerror(ENOENT));
}

void TestGzipStream::countingRefusesDamage()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);

    QTemporaryDir source;
    QVERIFY(source.isValid());
    const QString path = source.filePath(QStringLiteral("zarvo.tgz"));
    if (file != "<none>") {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    Tar tar;
    QSignalSpy errorSpy(&tar, &Tar::error);
    QSignalSpy progressSpy(&tar, &Tar::progress);
    QCOMPARE(tar.countArchiveEntries(path), -1);
    QCOMPARE(errorSpy.count(), 1);
    const QString expected = file == "<none>"
        ? QStringLiteral("Can't open \"%1\" for reading: %2.").arg(path, reason)
        : QStringLiteral("Error reading \"%1\": %2.").arg(path, reason);
    QCOMPARE(errorSpy.at(0).at(0).toString(), expected);
    QCOMPARE(progressSpy.count(), 0);
}

void TestGzipStream::installsMultiMemberArchives()
{
    TestArchive archive;
    archive.directory("bin/").file("bin/pesk", "#!/bin/sh\n", 0755).directory("lib/");
    const QByteArray library = sample(900 * 1024, true, 20);
    archive.file("lib/libzarvo.so", library, 0644, 1600000000);
    const QByteArray tar = archive.tar();

    QTemporaryDir source;
    QTemporaryDir destination;
    QVERIFY(source.isValid() && destination.isValid());
    const QString path = source.filePath(QStringLiteral("zarvo.tgz"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(gzipMember(tar.left(300000)) + gzipMember(tar.mid(300000, 5)) + gzipMember(tar.mid(300005)));
    out.close();

    Tar engine;
    QSignalSpy errorSpy(&engine, &Tar::error);
    QSignalSpy progressSpy(&engine, &Tar::progress);
    const int total = engine.countArchiveEntries(path);
    QCOMPARE(total, archive.size());
    QVERIFY2(engine.extract(path, destination.path(), total),
             qPrintable(engine.lastError()));
    QCOMPARE(errorSpy.count(), 0);
    QCOMPARE(progressSpy.count(), total);
    QCOMPARE(progressSpy.last().at(0).toInt(), 100);
    QFile installed(destination.filePath(QStringLiteral("lib/libzarvo.so")));
    QVERIFY(installed.open(QIODevice::ReadOnly));
    QVERIFY2(installed.readAll() == library, "the installed library differs from the packed one");
    QCOMPARE(installed.fileTime(QFileDevice::FileModificationTime).toSecsSinceEpoch(), 1600000000);
}

ZARVO_TEST_MAIN_CORE(TestGzipStream)

#include "tst_gzipstream.moc"
