// The free-space check on a small tmpfs: a payload that does not fit, in
// bytes or in inodes, is refused with both figures named; one that fits
// passes. The destination need not exist yet.

#include "installer/transaction/spacecheck.h"
#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/statvfs.h>

class tst_SpaceCheck : public QObject
{
    Q_OBJECT

private slots:
    void refused_data();
    void refused();
};

void tst_SpaceCheck::refused_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<QString>("shortage"); // "", "space" or "inodes"
    // 1 MiB and 1000 inodes; a file of 1000 bytes takes a block of 4096.
    QTest::newRow("fits") << 200 << 4000 << QString();
    QTest::newRow("small files that fit only unrounded") << 300 << 1000 << "space";
    QTest::newRow("one large file") << 1 << 2 * 1024 * 1024 << "space";
    QTest::newRow("more entries than inodes") << 1500 << 0 << "inodes";
}

void tst_SpaceCheck::refused()
{
    QFETCH(int, files);
    QFETCH(int, fileSize);
    QFETCH(QString, shortage);
    QTemporaryDir scratch;
    const Reliability::TmpfsMount disk(scratch.filePath(QStringLiteral("disk")), "1m,nr_inodes=1000");
    if (!disk.isMounted())
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: ") + disk.refusal()));
    const QString destination = scratch.filePath(QStringLiteral("disk/opt/zarvo"));

    SpaceCheck check(destination);
    QCOMPARE(check.blockSize(), qint64(4096));
    check.addDirectory();
    for (int i = 0; i < files; ++i)
        check.addFile(fileSize);
    struct statvfs st;
    QCOMPARE(::statvfs(disk.path().constData(), &st), 0);
    const QLocale locale;
    const QString needs = shortage == QLatin1String("inodes")
        ? locale.toString(check.neededEntries())
        : locale.formattedDataSize(4096 + files * ((fileSize + 4095) / 4096 * 4096), 1);
    const QString free = shortage == QLatin1String("inodes")
        ? locale.toString(qint64(st.f_favail))
        : locale.formattedDataSize(qint64(st.f_bavail * st.f_frsize), 1);
    const QString expected = shortage.isEmpty()
        ? QString()
        : QStringLiteral("Not enough free %1 in \"%2\": the installation needs %3, %4 are free.")
              .arg(shortage, destination, needs, free);
    QCOMPARE(check.shortage(), expected);
}

ZARVO_TEST_MAIN_CORE(tst_SpaceCheck)
#include "tst_spacecheck.moc"
