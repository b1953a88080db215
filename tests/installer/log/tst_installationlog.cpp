// The log of a run: in the state directory, every report of the real engine
// in the order the front end gets it, the question with its answer, the
// versions and the command line that repeats the run, and a copy inside a
// completed installation.

#include "installer/engine/installer.h"
#include "installer/log/installationlog.h"
#include "installer/transaction/installationrecord.h"
#include "installer/transaction/statedirectory.h"
#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace Reliability;

class tst_InstallationLog : public QObject
{
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void commandLine();
};

void tst_InstallationLog::run_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("fresh destination") << false;
    QTest::newRow("existing destination, question answered") << true;
}

void tst_InstallationLog::run()
{
    QFETCH(bool, existing);
    QTemporaryDir scratch;
    const QString source = scratch.filePath(QStringLiteral("source"));
    const QString destination = scratch.filePath(QStringLiteral("dest"));
    QVERIFY(QDir().mkpath(source) && (!existing || QDir().mkpath(destination)));
    QVERIFY(writeTree(generateTree(7, 5, 100), QFile::encodeName(source)));

    InstallationLog log;
    QVERIFY(log.open());
    QVERIFY(log.path().startsWith(stateDirectory() + QLatin1Char('/')));
    log.writeHeader({QStringLiteral("install-mode=user")},
                    InstallationLog::equivalentCommand(destination, existing, false, false));
    ScriptedPrompt answers;
    Installer installer(nullptr, log.loggingPrompt(&answers));
    log.observe(&installer);
    Reports reports;
    record(&installer, &reports);
    installer.install(source, destination);
    QTRY_VERIFY_WITH_TIMEOUT(reports.terminal() > 0 && !workerRunning(), 30000);
    deliverQueuedReports();
    QCOMPARE(reports.finished, 1);
    QVERIFY(log.copyInto(destination));

    QFile file(destination + QLatin1Char('/') + QLatin1String(InstallationRecord::logFileName));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'),
                                                                       Qt::SkipEmptyParts);
    const QRegularExpression stamped(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z (\\w+)( |$)"));
    QStringList kinds, expected;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = stamped.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        kinds << line.mid(match.capturedStart(1));
    }
    expected << kinds.mid(0, 4);
    QVERIFY(expected.at(0).startsWith(QStringLiteral("version installer 25.1.3, Corvane Zarvo 25.1.3, Qt ")));
    QCOMPARE(expected.at(2), QStringLiteral("option install-mode=user"));
    QCOMPARE(expected.at(3), QStringLiteral("command textinstall --accept-licence %1-- %2")
                                 .arg(existing ? QStringLiteral("--yes ") : QString(), destination));
    if (existing)
        expected << QStringLiteral("question Destination Exists: Destination directory \"%1\" "
                                   "already exists. Do you wish to continue?")
                        .arg(destination)
                 << QStringLiteral("answer Yes");
    // Every status line in the order the front end saw it, then the end.
    for (const QString &status : qAsConst(reports.statuses))
        expected << QStringLiteral("status ") + status;
    expected << QStringLiteral("finished");
    QCOMPARE(kinds, expected);
}

void tst_InstallationLog::commandLine()
{
    QCOMPARE(InstallationLog::equivalentCommand(QStringLiteral("/opt/it's here"), true, true, true),
             QStringLiteral("textinstall --accept-licence --yes --all-users --no-space-check -- "
                            "'/opt/it'\\''s here'"));
}

ZARVO_TEST_MAIN_CORE(tst_InstallationLog)
#include "tst_installationlog.moc"
