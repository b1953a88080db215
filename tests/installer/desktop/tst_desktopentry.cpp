#include "installer/desktop/desktopentry.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"

#include <QFile>
#include <QFileInfo>

class TestDesktopEntry : public QObject
{
    Q_OBJECT

private slots:
    void rewrite_data();
    void rewrite();
    void file();
};

void TestDesktopEntry::rewrite_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("expected");

    const QString p = QStringLiteral("/opt/corvane/zarvo/25.1.3/bin/corvane-zarvo");
    QTest::newRow("exec with arguments and field codes")
            << "Exec=pesk --open %F\n" << p << "Exec=" + p + " -gui\n";
    QTest::newRow("try exec names the program alone")
            << "TryExec=pesk\nExec=pesk\n" << p << "TryExec=" + p + "\nExec=" + p + " -gui\n";
    QTest::newRow("several exec lines in action groups")
            << "Exec=a\n[Desktop Action New]\nExec=b %u" << p
            << "Exec=" + p + " -gui\n[Desktop Action New]\nExec=" + p + " -gui";
    QTest::newRow("name and generic name get the version")
            << "Name=Corvane Zarvo\nGenericName=Cluster Tools" << p
            << "Name=Corvane Zarvo 25.1.3\nGenericName=Cluster Tools 25.1.3";
    QTest::newRow("localized name stays") << "Name[de]=Werkzeuge\n" << p << "Name[de]=Werkzeuge\n";
    QTest::newRow("name showing the version already")
            << "Name=Zarvo 25.1.3\n" << p << "Name=Zarvo 25.1.3\n";
    QTest::newRow("name with an older or glued version")
            << "Name=Zarvo 25.1.2\nName=Zarvo25.1.3\n" << p
            << "Name=Zarvo 25.1.2 25.1.3\nName=Zarvo25.1.3 25.1.3\n";
    QTest::newRow("empty entry") << "" << p << "";
    QTest::newRow("neither exec nor name, non-ASCII and CR kept")
            << "[Desktop Entry]\r\nComment=Débogueur für Cluster\n" << p
            << "[Desktop Entry]\r\nComment=Débogueur für Cluster\n";
    // The program path in Exec=: quoted only for reserved characters, '%'
    // doubled, and escaped once more as a string value (backslash).
    QTest::newRow("dash, dot, plus, at, comma unquoted")
            << "Exec=x" << "/o/a-b.c+d@e,f/z" << "Exec=/o/a-b.c+d@e,f/z -gui";
    QTest::newRow("percent doubled, unquoted") << "Exec=x" << "/o/100%/z" << "Exec=/o/100%%/z -gui";
    QTest::newRow("blank quoted") << "Exec=x" << "/o/my tools/z" << "Exec=\"/o/my tools/z\" -gui";
    QTest::newRow("dollar and double quote")
            << "Exec=x" << "/o/$H\"/z" << "Exec=\"/o/\\\\$H\\\\\"/z\" -gui";
    QTest::newRow("backslash and digit, in Exec and TryExec")
            << "TryExec=x\nExec=x" << "/o/a\\1b/z"
            << "TryExec=/o/a\\\\1b/z\nExec=\"/o/a\\\\\\\\1b/z\" -gui";
    QTest::newRow("quote, ampersand, semicolon, parentheses")
            << "Exec=x" << "/o/it's&b;(c)/z" << "Exec=\"/o/it's&b;(c)/z\" -gui";
    QTest::newRow("backtick and percent")
            << "Exec=x" << "/o/`x`%/z" << "Exec=\"/o/\\\\`x\\\\`%%/z\" -gui";
    QTest::newRow("tilde, hash, star, question mark, angle brackets, bar")
            << "Exec=x" << "/o/~#*?<>|/z" << "Exec=\"/o/~#*?<>|/z\" -gui";
}

void TestDesktopEntry::rewrite()
{
    QFETCH(QString, text);
    QFETCH(QString, program);
    QFETCH(QString, expected);

    const QString once = rewrittenDesktopEntry(text, program, QStringLiteral("25.1.3"));
    QCOMPARE(once, expected);
    // The console branch may run any number of times on the same installation.
    QCOMPARE(rewrittenDesktopEntry(once, program, QStringLiteral("25.1.3")), once);
}

void TestDesktopEntry::file()
{
    FakeInstallation inst;
    RecordingPrompt prompt;
    QObject window;
    Installer installer(&window, &prompt);
    const auto rewrite = [&] {
        rewriteDesktopEntry(installer, inst.dir(), QStringLiteral("corvane-zarvo.desktop"),
                            QStringLiteral("corvane-zarvo"));
    };

    rewrite();
    QCOMPARE(prompt.shown(), QStringLiteral("Installation Error: Could not open \"%1\" for reading.")
                                     .arg(inst.entryPath()));
    QCOMPARE(prompt.boxes[0].owner, &window);
    QCOMPARE(prompt.boxes[0].severity, UserPrompt::Critical);
    QVERIFY(!QFileInfo::exists(inst.entryPath()));

    // Kept elsewhere and linked into the installation, with its own mode.
    prompt.boxes.clear();
    QVERIFY(inst.addIcons());
    const QString target = inst.tmpPath() + QStringLiteral("/shared.desktop");
    QVERIFY(QFile::rename(inst.entryPath(), target));
    QVERIFY(QFile::link(target, inst.entryPath()));
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser
            | QFile::WriteUser | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(target, mode));
    rewrite();
    QVERIFY2(prompt.boxes.isEmpty(), qPrintable(prompt.shown()));
    const QByteArray path = QFile::encodeName(inst.dir()) + "/bin/corvane-zarvo";
    const QByteArray expected = FakeInstallation::shippedEntry()
                                        .replace("Zarvo\n", "Zarvo 25.1.3\n")
                                        .replace("Tools\n", "Tools 25.1.3\n")
                                        .replace("TryExec=pesk", "TryExec=" + path)
                                        .replace("\nExec=pesk %F", "\nExec=" + path + " -gui");
    QCOMPARE(inst.entry(), expected);
    QVERIFY(QFileInfo(inst.entryPath()).isSymLink());
    QCOMPARE(QFileInfo(target).permissions(), mode);
}

ZARVO_TEST_MAIN_CORE(TestDesktopEntry)
#include "tst_desktopentry.moc"
