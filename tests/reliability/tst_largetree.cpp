// An installation of 50,000 small files in both modes: it must finish with
// every file in place, and the progress must climb to exactly 100 in as
// many steps as there are units of work.

#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Reliability;

namespace {
const int fileCount = 50000;
} // namespace

class tst_LargeTree : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void install_data();
    void install();

private:
    QTemporaryDir scratch;
    std::unique_ptr<TmpfsMount> memory;
    QDir work;
    Tree tree;
};

void tst_LargeTree::initTestCase()
{
    QVERIFY(scratch.isValid());
    // 50,000 inodes are created and removed much faster in memory, where the
    // system allows it; a page each, so a tree takes some 200 MB there.
    memory.reset(new TmpfsMount(scratch.filePath(QStringLiteral("memory")), "640m"));
    if (!memory->isMounted())
        qInfo("running on disk: cannot mount a tmpfs (%s)", qPrintable(memory->refusal()));
    work.setPath(scratch.filePath(QStringLiteral("memory")));
    tree << Entry{Entry::Directory, "bin", QByteArray(), 0755};
    tree << Entry{Entry::File, "bin/pesk", "#!/bin/sh\n", 0755};
    for (int d = 0; d < 100; ++d) {
        const QByteArray dir = "share/part" + QByteArray::number(d);
        if (d == 0)
            tree << Entry{Entry::Directory, "share", QByteArray(), 0755};
        tree << Entry{Entry::Directory, dir, QByteArray(), 0755};
        for (int f = 0; f < fileCount / 100 - (d == 0); ++f)
            tree << Entry{Entry::File, dir + "/f" + QByteArray::number(f),
                          QByteArray::number(d * 1000 + f) + '\n', 0644};
    }
}

void tst_LargeTree::install_data()
{
    QTest::addColumn<bool>("archive");
    QTest::newRow("copy of 50,000 files") << false;
    QTest::newRow("extraction of 50,000 files") << true;
}

void tst_LargeTree::install()
{
    QFETCH(bool, archive);
    const QString source = work.filePath(archive ? QStringLiteral("archive") : QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(source));
    if (archive) {
        QString why;
        QVERIFY2(writeArchive(tree, QFile::encodeName(source + QStringLiteral("/zarvo.tgz")), &why),
                 qPrintable(why));
    } else {
        QVERIFY(writeTree(tree, QFile::encodeName(source)));
    }
    const QByteArray destination = QFile::encodeName(work.filePath(QStringLiteral("destination-%1").arg(archive)));

    QElapsedTimer clock;
    clock.start();
    ScriptedPrompt prompt;
    Reports reports;
    QVERIFY(runInstallation(source, QFile::decodeName(destination), &prompt, &reports, 280000));
    const qint64 ms = clock.elapsed();
    const QString why = verify(Outcome::Exact, reports, expectedListing(tree, !archive), destination);
    QVERIFY2(why.isEmpty(), qPrintable(why));

    // Archive mode counts every entry, the copy only files.
    int units = 0;
    for (const Entry &e : qAsConst(tree))
        units += archive || e.kind != Entry::Directory;
    QCOMPARE(units, archive ? fileCount + 102 : fileCount);
    QCOMPARE(reports.progress.size(), units);
    QCOMPARE(reports.progress.last(), 100);
    for (int i = 1; i < reports.progress.size(); ++i)
        QVERIFY2(reports.progress.at(i) >= reports.progress.at(i - 1),
                 qPrintable(QStringLiteral("progress went back at step %1").arg(i)));
    qInfo("%s: %d units installed in %lld ms", QTest::currentDataTag(), units, ms);
    removeTree(destination);
    removeTree(QFile::encodeName(source));
}

ZARVO_TEST_MAIN_CORE(tst_LargeTree)
#include "tst_largetree.moc"
