#include "tests/support/testenvironment.h"
#include "util/childprocess.h"
#include "util/dependencyscan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

// The scans run "ldd" from PATH. The fake ldd put first on PATH prints the
// file it is given, so each row's text is exactly what the scan reads. It
// reads its standard input first, which the scan must close for it.
class TestDependencyScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fakeLdd_data();
    void fakeLdd();
    void fileArgumentPassedUnchanged();
    void lddFails_data();
    void lddFails();
    void realLddOnRealProgram();
    void realLddReportsMissingLibrary();
    void realLddOnNonProgram();
    void scansOnTwoThreads();

private:
    QString writeFixture(const QString &name, const QByteArray &contents);
    QString copyWithExtraNeeded(const QString &library);

    QByteArray originalPath;
    QTemporaryDir fakeBin;
    QScopedPointer<QTemporaryDir> work;
};

void TestDependencyScan::initTestCase()
{
    originalPath = qgetenv("PATH");
    QVERIFY(fakeBin.isValid());
    QVERIFY(TestEnvironment::writeScript(fakeBin.filePath(QStringLiteral("ldd")),
                                         "#!/bin/sh\ntimeout 5 cat >/dev/null || exit 1\n"
                                         "exec cat \"$1\"\n"));
}

void TestDependencyScan::init()
{
    work.reset(new QTemporaryDir);
    QVERIFY(work->isValid());
    qputenv("PATH", QFile::encodeName(fakeBin.path()) + ':' + originalPath);
}

void TestDependencyScan::cleanup()
{
    qputenv("PATH", originalPath);
    work.reset();
}

QString TestDependencyScan::writeFixture(const QString &name, const QByteArray &contents)
{
    const QString path = work->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return QString();
    return path;
}

using MissingSet = QSet<QString>;
Q_DECLARE_METATYPE(MissingSet)

void TestDependencyScan::fakeLdd_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<MissingSet>("missing");
    QTest::addColumn<QStringList>("resolved");
    // The names appended, then "VERSION of LIBRARY by PROGRAM" for each
    // version that a library lacks.
    QTest::addColumn<QStringList>("notFound");

    QTest::newRow("every library resolved")
        << QByteArray("\tlinux-vdso.so.1 (0x00007ffd5a3f1000)\n"
                      "\tlibQt5Core.so.5 => /lib/x86_64-linux-gnu/libQt5Core.so.5 (0x00007f1c2a000000)\n"
                      "\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x00007f1c29e00000)\n"
                      "\t/lib64/ld-linux-x86-64.so.2 (0x00007f1c2a6d2000)\n")
        << MissingSet()
        << QStringList{QStringLiteral("/lib/x86_64-linux-gnu/libQt5Core.so.5"),
                       QStringLiteral("/lib/x86_64-linux-gnu/libc.so.6")}
        << QStringList();
    QTest::newRow("one library not found")
        << QByteArray("\tlinux-vdso.so.1 (0x00007ffd5a3f1000)\n"
                      "\tlibxcb-xinerama.so.0 => not found\n"
                      "\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x00007f1c29e00000)\n")
        << MissingSet{QStringLiteral("libxcb-xinerama.so.0")}
        << QStringList{QStringLiteral("/lib/x86_64-linux-gnu/libc.so.6")}
        << QStringList{QStringLiteral("libxcb-xinerama.so.0")};
    QTest::newRow("same library not found twice")
        << QByteArray("\tlibxkbcommon-x11.so.0 => not found\n"
                      "\tlibxcb-icccm.so.4 => not found\n"
                      "\tlibxkbcommon-x11.so.0 => not found\n")
        << MissingSet{QStringLiteral("libxkbcommon-x11.so.0"), QStringLiteral("libxcb-icccm.so.4")}
        << QStringList()
        << QStringList{QStringLiteral("libxkbcommon-x11.so.0"), QStringLiteral("libxcb-icccm.so.4"),
                       QStringLiteral("libxkbcommon-x11.so.0")};
    QTest::newRow("resolved library listed twice")
        << QByteArray("\tlibz.so.1 => /lib/x86_64-linux-gnu/libz.so.1 (0x1)\n"
                      "\tlibz.so.1 => /lib/x86_64-linux-gnu/libz.so.1 (0x1)\n")
        << MissingSet()
        << QStringList{QStringLiteral("/lib/x86_64-linux-gnu/libz.so.1"),
                       QStringLiteral("/lib/x86_64-linux-gnu/libz.so.1")}
        << QStringList();
    QTest::newRow("only lines without arrow")
        << QByteArray("\tlinux-vdso.so.1 (0x00007ffd5a3f1000)\n"
                      "\t/lib64/ld-linux-x86-64.so.2 (0x00007f1c2a6d2000)\n")
        << MissingSet() << QStringList() << QStringList();
    QTest::newRow("doubled separators and dot components")
        << QByteArray("\tlibzarvo.so.25 => /opt/corvane//zarvo/bin/../lib/./internal/libzarvo.so.25 (0x1)\n"
                      "\tlibm.so.6 => //lib/x86_64-linux-gnu//libm.so.6 (0x2)\n")
        << MissingSet()
        << QStringList{QStringLiteral("/opt/corvane/zarvo/lib/internal/libzarvo.so.25"),
                       QStringLiteral("/lib/x86_64-linux-gnu/libm.so.6")}
        << QStringList();
    QTest::newRow("path ends at the first blank")
        << QByteArray("\tlibfoo.so => /opt/my tools/libfoo.so (0x1)\n")
        << MissingSet() << QStringList{QStringLiteral("/opt/my")} << QStringList();
    QTest::newRow("empty output") << QByteArray() << MissingSet() << QStringList() << QStringList();
    QTest::newRow("blank output") << QByteArray("\n\n  \n") << MissingSet() << QStringList()
                                  << QStringList();
    QTest::newRow("statically linked program")
        << QByteArray("\tstatically linked\n") << MissingSet() << QStringList() << QStringList();
    QTest::newRow("empty line ends the walk")
        << QByteArray("\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x1)\n"
                      "\n"
                      "\tlibgone.so.1 => not found\n"
                      "\tlibm.so.6 => /lib/x86_64-linux-gnu/libm.so.6 (0x2)\n")
        << MissingSet() << QStringList{QStringLiteral("/lib/x86_64-linux-gnu/libc.so.6")}
        << QStringList();
    QTest::newRow("output cut at a NUL byte")
        << QByteArray("\tlibgone.so.1 => not found\n\tlibcut", 35)
               + QByteArray(1, '\0') + QByteArray(".so.2 => not found\n\tlibhidden.so => not found\n")
        << MissingSet{QStringLiteral("libgone.so.1")} << QStringList()
        << QStringList{QStringLiteral("libgone.so.1")};
    QTest::newRow("not found in other letter case")
        << QByteArray("\tlibfoo.so.1 => Not Found\n\tlibbar.so.1 => NOT FOUND\n")
        << MissingSet() << QStringList() << QStringList();
    QTest::newRow("not found followed by more text")
        << QByteArray("\tlibfoo.so.1 => not found (in a chroot)\n")
        << MissingSet() << QStringList() << QStringList();
    QTest::newRow("blank lines and spaces around the output")
        << QByteArray("\n\n   libgone.so.3 => not found   \n\n")
        << MissingSet{QStringLiteral("libgone.so.3")} << QStringList()
        << QStringList{QStringLiteral("libgone.so.3")};
    QTest::newRow("library lacking two versions the program needs")
        << QByteArray("/opt/z/gdb: /lib/x86_64-linux-gnu/libc.so.6: version `GLIBC_2.99' not found"
                      " (required by /opt/z/gdb)\n"
                      "/opt/z/gdb: /lib/x86_64-linux-gnu/libc.so.6: version `GLIBC_2.98' not found"
                      " (required by /opt/z/lib/libzarvo.so.25)\n"
                      "\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x1)\n")
        << MissingSet{QStringLiteral("libc.so.6")}
        << QStringList{QStringLiteral("/lib/x86_64-linux-gnu/libc.so.6")}
        << QStringList{QStringLiteral("libc.so.6"),
                       QStringLiteral("GLIBC_2.99 of libc.so.6 by /opt/z/gdb"),
                       QStringLiteral("GLIBC_2.98 of libc.so.6 by /opt/z/lib/libzarvo.so.25")};
    QTest::newRow("version quoted with apostrophes, beside a library not found")
        << QByteArray("gdb: /usr/lib/libstdc++.so.6: version 'GLIBCXX_3.4.99' not found (required"
                      " by gdb)\n\tlibgone.so.1 => not found\n")
        << MissingSet{QStringLiteral("libstdc++.so.6"), QStringLiteral("libgone.so.1")}
        << QStringList()
        << QStringList{QStringLiteral("libstdc++.so.6"), QStringLiteral("libgone.so.1"),
                       QStringLiteral("GLIBCXX_3.4.99 of libstdc++.so.6 by gdb")};
    QTest::newRow("no version information is only a warning")
        << QByteArray("gdb: /lib/libold.so.1: no version information available (required by gdb)\n")
        << MissingSet() << QStringList() << QStringList();
}

void TestDependencyScan::fakeLdd()
{
    QFETCH(QByteArray, output);
    QFETCH(MissingSet, missing);
    QFETCH(QStringList, resolved);
    QFETCH(QStringList, notFound);

    const QString file = writeFixture(QStringLiteral("ldd-output"), output);
    QVERIFY(!file.isEmpty());

    QCOMPARE(findMissingLibraries(file), missing);

    // The list belongs to the caller: the scan appends and never clears.
    const QString earlier = QStringLiteral("libfrom-an-earlier-scan.so.1");
    QStringList collected{earlier};
    QVector<MissingVersion> versions;
    QCOMPARE(resolveLibraryDependencies(file, &collected, &versions), resolved);
    for (const MissingVersion &missing : versions)
        collected << missing.version + " of " + missing.library + " by " + missing.requiredBy;
    QCOMPARE(collected, QStringList{earlier} + notFound);

    QCOMPARE(resolveLibraryDependencies(file, nullptr), resolved);
}

void TestDependencyScan::fileArgumentPassedUnchanged()
{
    const QString file = writeFixture(QStringLiteral("a dir name with 'quotes' and $HOME"),
                                      "\tlibquoted.so.1 => not found\n");
    QVERIFY(!file.isEmpty());
    QCOMPARE(findMissingLibraries(file), MissingSet{QStringLiteral("libquoted.so.1")});
}

void TestDependencyScan::lddFails_data()
{
    QTest::addColumn<QString>("ldd");
    QTest::newRow("no ldd on PATH") << QString();
    QTest::newRow("ldd on PATH not executable") << "<not executable>";
    // A tool is stopped with what it started: the "sleep" must go too.
    QTest::newRow("ldd that hangs is stopped at the time limit")
        << "PATH=/usr/bin:/bin\necho '\tlibtoo-late.so => not found'\n"
           "sleep 30 & echo $! > \"$0.pid\"\nwait\n";
}

void TestDependencyScan::lddFails()
{
    QFETCH(QString, ldd);

    QTemporaryDir lonelyBin;
    QVERIFY(lonelyBin.isValid());
    const QString fake = lonelyBin.filePath(QStringLiteral("ldd"));
    if (!ldd.isNull()) {
        QVERIFY(TestEnvironment::writeScript(fake, "#!/bin/sh\n" + ldd.toUtf8()));
        if (ldd == QLatin1String("<not executable>"))
            QVERIFY(QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner));
    }
    qputenv("PATH", QFile::encodeName(lonelyBin.path()));
    setToolTimeLimitMs(1000);

    const QString file = QCoreApplication::applicationFilePath();
    QVERIFY(findMissingLibraries(file).isEmpty());
    const QStringList before{QStringLiteral("libkept.so.1"), QStringLiteral("libkept.so.2")};
    QStringList collected = before;
    QVERIFY(resolveLibraryDependencies(file, &collected).isEmpty());
    QCOMPARE(collected, before);

    // What ldd started is gone (or a zombie no one reaps) a moment after the kill.
    QFile pid(fake + QStringLiteral(".pid"));
    const QString stat = pid.open(QIODevice::ReadOnly) ? "/proc/" + pid.readAll().trimmed() + "/stat"
                                                       : QString();
    const auto ended = [&stat] {
        QFile file(stat);
        return stat.isEmpty() || !file.open(QIODevice::ReadOnly)
               || file.readAll().contains(") Z ");
    };
    QTRY_VERIFY2_WITH_TIMEOUT(ended(), "a process the hung ldd started still runs", 5000);
}

// A copy of this test program that also needs a library no machine has.
QString TestDependencyScan::copyWithExtraNeeded(const QString &library)
{
    const QString patchelf = QStandardPaths::findExecutable(QStringLiteral("patchelf"));
    if (patchelf.isEmpty())
        return QString();
    const QString copy = work->filePath(QStringLiteral("patched-program"));
    if (!QFile::copy(QCoreApplication::applicationFilePath(), copy))
        return QString();
    QProcess run;
    run.start(patchelf, {QStringLiteral("--add-needed"), library, copy});
    if (!run.waitForFinished(30000) || run.exitStatus() != QProcess::NormalExit
        || run.exitCode() != 0)
        return QString();
    return copy;
}

void TestDependencyScan::realLddOnRealProgram()
{
    qputenv("PATH", originalPath);
    if (QStandardPaths::findExecutable(QStringLiteral("ldd")).isEmpty())
        QSKIP("this machine has no ldd");

    QVERIFY(findMissingLibraries(QCoreApplication::applicationFilePath()).isEmpty());

    QStringList notFound;
    const QStringList resolved =
        resolveLibraryDependencies(QCoreApplication::applicationFilePath(), &notFound);
    QVERIFY(notFound.isEmpty());
    bool sawCore = false;
    for (const QString &path : resolved) {
        QVERIFY2(QFileInfo(path).isAbsolute() && QDir::cleanPath(path) == path, qPrintable(path));
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        sawCore = sawCore || QFileInfo(path).fileName().startsWith(QLatin1String("libQt5Core.so"));
    }
    QVERIFY2(sawCore, qPrintable(resolved.join(QLatin1Char(' '))));
}

void TestDependencyScan::realLddReportsMissingLibrary()
{
    qputenv("PATH", originalPath);
    if (QStandardPaths::findExecutable(QStringLiteral("ldd")).isEmpty())
        QSKIP("this machine has no ldd");
    const QString absent = QStringLiteral("libzarvo-absent-test.so.7");
    const QString program = copyWithExtraNeeded(absent);
    if (program.isEmpty())
        QSKIP("patchelf is not available to make a program with a missing library");

    QCOMPARE(findMissingLibraries(program), MissingSet{absent});
    QStringList notFound;
    const QStringList resolved = resolveLibraryDependencies(program, &notFound);
    QCOMPARE(notFound, QStringList{absent});
    QVERIFY(!resolved.isEmpty());
    for (const QString &path : resolved)
        QVERIFY2(!path.contains(absent), qPrintable(path));
}

void TestDependencyScan::realLddOnNonProgram()
{
    qputenv("PATH", originalPath);
    if (QStandardPaths::findExecutable(QStringLiteral("ldd")).isEmpty())
        QSKIP("this machine has no ldd");
    const QString text = writeFixture(QStringLiteral("notes.txt"), "libc.so.6 => not found\n");
    QVERIFY(!text.isEmpty());
    QVERIFY(findMissingLibraries(text).isEmpty());
    QStringList notFound;
    QVERIFY(resolveLibraryDependencies(text, &notFound).isEmpty());
    QVERIFY(notFound.isEmpty());
    QVERIFY(findMissingLibraries(work->filePath(QStringLiteral("no-such-file"))).isEmpty());
}

// The install thread scans while the main thread may scan too.
void TestDependencyScan::scansOnTwoThreads()
{
    const QString file = writeFixture(
        QStringLiteral("ldd-output"),
        "\tlibgone.so.1 => not found\n\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x1)\n");
    QVERIFY(!file.isEmpty());

    QStringList threadResolved, threadNotFound;
    QScopedPointer<QThread> worker(QThread::create([&] {
        for (int i = 0; i < 5; ++i)
            threadResolved += resolveLibraryDependencies(file, &threadNotFound);
    }));
    worker->start();
    MissingSet mainMissing;
    for (int i = 0; i < 5; ++i)
        mainMissing += findMissingLibraries(file);
    QVERIFY(worker->wait(60000));

    QCOMPARE(mainMissing, MissingSet{QStringLiteral("libgone.so.1")});
    QCOMPARE(threadResolved.size(), 5);
    QVERIFY(threadResolved.count(QStringLiteral("/lib/x86_64-linux-gnu/libc.so.6")) == 5);
    QCOMPARE(threadNotFound.count(QStringLiteral("libgone.so.1")), 5);
}

ZARVO_TEST_MAIN_CORE(TestDependencyScan)
#include "tst_dependencyscan.moc"
