#include "installer/desktop/desktopentry.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

class TestDesktopEntry : public QObject
{
    Q_OBJECT

private slots:
    void rewrite_data();
    void rewrite();
    void file_data();
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
    // Keys count only at the start of a line.
    QTest::newRow("destination holding Name= and Exec=")
            << "TryExec=x\nExec=x\nName=Z" << "/o/Name=a/Exec=b/z"
            << "TryExec=/o/Name=a/Exec=b/z\nExec=/o/Name=a/Exec=b/z -gui\nName=Z 25.1.3";
    QTest::newRow("keys inside other values and keys")
            << "Comment=Exec=old Name=old\nX-GNOME-FullName=Z\n" << p
            << "Comment=Exec=old Name=old\nX-GNOME-FullName=Z\n";
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

void TestDesktopEntry::file_data()
{
    // "A>B": A (below the temporary directory) is moved to B and linked there.
    QTest::addColumn<QString>("move");
    QTest::addColumn<QString>("shown");

    QTest::newRow("missing entry") << "-" << "Installation Error: Could not open \"@E\" for reading.";
    QTest::newRow("entry of another user, rewritten as root") << "nobody" << QString();
    QTest::newRow("entry linked to another file of the installation, with its own mode")
            << "inst/icons/corvane-zarvo.desktop>inst/share/z.desktop" << QString();
    // Links that lead outside are rows of the hostile payloads (tests/reliability).
    QTest::newRow("icons directory linked to a directory outside")
            << "inst/icons>icons" << "Installation Error: \"@E\" leads to \"@T/icons/corvane-zarvo"
               ".desktop\", outside the installation directory \"@D\"; it was left unchanged.";
}

void TestDesktopEntry::file()
{
    QFETCH(QString, move);
    QFETCH(QString, shown);
    if (move == QLatin1String("nobody") && ::geteuid() != 0)
        QSKIP("only root can give the entry to another user");

    FakeInstallation inst;
    RecordingPrompt prompt;
    QObject window;
    Installer installer(&window, &prompt);
    QVERIFY(inst.addIcons());
    const QString tmp = inst.tmpPath() + QLatin1Char('/');
    const QStringList ends = move.split(QLatin1Char('>'));
    if (ends.size() == 2) {
        QVERIFY(QDir().mkpath(QFileInfo(tmp + ends[1]).path()));
        QVERIFY(QFile::rename(tmp + ends[0], tmp + ends[1]) && QFile::link(tmp + ends[1], tmp + ends[0]));
    }
    const QString target = QFileInfo(inst.entryPath()).canonicalFilePath();
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser
            | QFile::WriteUser | QFile::ReadGroup;
    QVERIFY(move == QLatin1String("-") ? QFile::remove(target) : QFile::setPermissions(target, mode));
    if (move == QLatin1String("nobody"))
        QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);

    const DesktopSteps steps = rewriteDesktopEntry(installer, inst.dir(),
                                                   QStringLiteral("corvane-zarvo.desktop"),
                                                   QStringLiteral("corvane-zarvo"));

    QCOMPARE(prompt.shown(), shown.replace(QLatin1String("@E"), inst.entryPath())
                                     .replace(QLatin1String("@D"), inst.dir())
                                     .replace(QLatin1String("@T"), inst.tmpPath()));
    QVERIFY(prompt.boxes.isEmpty() || prompt.boxes[0].owner == &window);
    QVERIFY(steps.size() == 1 && steps[0].succeeded == shown.isEmpty()
            && steps[0].problem.isEmpty() == shown.isEmpty());
    QCOMPARE(QFileInfo::exists(inst.entryPath()), move != QLatin1String("-"));
    if (move == QLatin1String("-"))
        return;
    const QByteArray path = QFile::encodeName(inst.dir()) + "/bin/corvane-zarvo";
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), !shown.isEmpty() ? FakeInstallation::shippedEntry()
             : FakeInstallation::shippedEntry().replace("Zarvo\n", "Zarvo 25.1.3\n")
                       .replace("Tools\n", "Tools 25.1.3\n").replace("TryExec=pesk", "TryExec=" + path)
                       .replace("\nExec=pesk %F", "\nExec=" + path + " -gui"));
    // Replaced where it lies: links stay links, mode, owner and group stay.
    QCOMPARE(QFileInfo(inst.entryPath()).isSymLink(), move.startsWith(QLatin1String("inst/icons/")));
    QCOMPARE(QFileInfo(target).permissions(), mode);
    if (move == QLatin1String("nobody"))
        QVERIFY(QFileInfo(target).ownerId() == 65534 && QFileInfo(target).groupId() == 65534);
}

ZARVO_TEST_MAIN_CORE(TestDesktopEntry)
#include "tst_desktopentry.moc"
