#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>

// Each row lays out a temporary tree, puts a copy of the start-up probe at
// the program's place and runs the source search from the working directory.
// Entries: "a/b" is a file, "a/b/" a directory, "a/b -> t" a symbolic link.
class TestInstallationSource : public QObject
{
    Q_OBJECT

private slots:
    void findsSource_data();
    void findsSource();

private:
    static bool makeEntry(const QDir &root, const QString &entry, QString *why);
};

bool TestInstallationSource::makeEntry(const QDir &root, const QString &entry, QString *why)
{
    const QString arrow = QStringLiteral(" -> ");
    const int link = entry.indexOf(arrow);
    const QString path = root.filePath(link < 0 ? entry : entry.left(link));
    const QString parent = QFileInfo(path).path();
    if (!QDir().mkpath(parent)) {
        *why = QStringLiteral("cannot create ") + parent;
        return false;
    }
    bool ok;
    if (link >= 0) {
        ok = QFile::link(entry.mid(link + arrow.size()), path);
    } else if (entry.endsWith(QLatin1Char('/'))) {
        ok = QDir().mkpath(path);
    } else {
        QFile file(path);
        ok = file.open(QIODevice::WriteOnly) && file.write("x") == 1;
    }
    if (!ok)
        *why = QStringLiteral("cannot create ") + entry;
    return ok;
}

void TestInstallationSource::findsSource_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("workingDir");
    QTest::addColumn<QString>("expected");

    const QString none = QStringLiteral("<null>");
    QTest::newRow("program beside the archive")
        << QStringList{"dist/zarvo.tgz"} << "dist/installer" << "elsewhere/" << "dist";
    QTest::newRow("program in bin of an unpacked tree")
        << QStringList{"tree/bin/pesk"} << "tree/bin/installer" << "elsewhere/" << "tree";
    QTest::newRow("program in libexec of an unpacked tree")
        << QStringList{"tree/bin/pesk"} << "tree/libexec/installer" << "elsewhere/" << "tree";
    QTest::newRow("unpacked tree with the lumo launcher")
        << QStringList{"tree/bin/lumo"} << "tree/libexec/installer" << "elsewhere/" << "tree";
    QTest::newRow("files only in the working directory")
        << QStringList{"work/zarvo.tgz"} << "prog/installer" << "work/" << "work";
    QTest::newRow("files only in the parent of the working directory")
        << QStringList{"work/bin/pesk"} << "prog/installer" << "work/sub/" << "work";
    QTest::newRow("no installation files anywhere")
        << QStringList{"work/readme.txt"} << "prog/installer" << "work/" << none;
    QTest::newRow("dangling launcher link does not count")
        << QStringList{"tree/bin/pesk -> missing-launcher"} << "tree/libexec/installer"
        << "elsewhere/" << none;
    QTest::newRow("launcher link to an existing file counts")
        << QStringList{"tree/bin/pesk.real", "tree/bin/pesk -> pesk.real"}
        << "tree/libexec/installer" << "elsewhere/" << "tree";
    QTest::newRow("directory named like the archive counts")
        << QStringList{"dist/zarvo.tgz/"} << "dist/installer" << "elsewhere/" << "dist";
    QTest::newRow("launcher that is a directory counts")
        << QStringList{"tree/bin/pesk/"} << "tree/bin/installer" << "elsewhere/" << "tree";
    QTest::newRow("archives of other names do not count")
        << QStringList{"dist/zarvo.tar.gz", "dist/Zarvo.tgz", "dist/zarvo.tgz.part"}
        << "dist/installer" << "dist/" << none;
    QTest::newRow("archive and tree both beside the program")
        << QStringList{"dist/zarvo.tgz", "dist/bin/pesk"} << "dist/installer" << "elsewhere/"
        << "dist";
    QTest::newRow("program directory before its parent")
        << QStringList{"tree/bin/zarvo.tgz", "tree/bin/pesk"} << "tree/bin/installer"
        << "elsewhere/" << "tree/bin";
    QTest::newRow("program's tree before the working directory")
        << QStringList{"tree/bin/pesk", "work/zarvo.tgz"} << "tree/bin/installer" << "work/"
        << "tree";
    QTest::newRow("working directory before its parent")
        << QStringList{"work/sub/zarvo.tgz", "work/bin/pesk"} << "prog/installer"
        << "work/sub/" << "work/sub";
    QTest::newRow("working directory deleted")
        << QStringList{"work/zarvo.tgz"} << "prog/installer" << "work/gone/ (deleted)" << none;
}

void TestInstallationSource::findsSource()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, program);
    QFETCH(QString, workingDir);
    QFETCH(QString, expected);

    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    const QDir root(QDir(tree.path()).canonicalPath());
    QString why;
    for (const QString &entry : qAsConst(entries))
        QVERIFY2(makeEntry(root, entry, &why), qPrintable(why));
    const bool deleted = workingDir.endsWith(QLatin1String(" (deleted)"));
    workingDir.remove(QStringLiteral(" (deleted)"));
    QVERIFY2(makeEntry(root, workingDir, &why), qPrintable(why));
    const QString probe = root.filePath(program);
    QVERIFY(QDir().mkpath(QFileInfo(probe).path()));
    QVERIFY(QFile::copy(QStringLiteral(ZARVO_STARTUP_PROBE), probe));

    QProcess run;
    run.setWorkingDirectory(root.filePath(workingDir));
    if (deleted) {
        // Started in the directory, which is gone before the search.
        run.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                              QStringLiteral("rmdir \"$PWD\" && exec \"$0\" source"),
                                              probe});
    } else {
        run.start(probe, {QStringLiteral("source")});
    }
    QVERIFY2(run.waitForFinished(30000), "the probe did not finish");
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(run.readAllStandardOutput()).chopped(1).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), expected == QLatin1String("<null>") ? expected : root.filePath(expected));
    // Every place looked at is a whole path: none is the root directory by
    // accident, none is relative to a working directory that is gone.
    for (const QString &candidate : lines.mid(1))
        QVERIFY2(QDir::isAbsolutePath(candidate), qPrintable(lines.join(QLatin1Char(' '))));
    QCOMPARE(lines.size(), deleted ? 3 : 5);
}

ZARVO_TEST_MAIN_CORE(TestInstallationSource)
#include "tst_installationsource.moc"
