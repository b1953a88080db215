#include "tests/support/testenvironment.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QSettings>

// The images and the toolkit configuration that the program carries, read
// from the same resource file that is compiled into it.
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void image_data();
    void image();
    void toolkitConfiguration();
};

void TestResources::image_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");

    for (int n : {16, 22, 24, 32, 48, 64, 128, 192, 256})
        QTest::addRow("product icon %dx%d", n, n)
            << QStringLiteral(":/icons/%1x%1/%2.png").arg(n).arg(QStringLiteral("corvane-zarvo"))
            << QByteArray("png") << QSize(n, n);
    QTest::newRow("wizard banner") << QStringLiteral(":/banner-zarvo.png") << QByteArray("png")
                                   << QSize(160, 232);
    QTest::newRow("folder icon") << QStringLiteral(":/folder_icon.xpm") << QByteArray("xpm")
                                 << QSize(16, 16);
}

void TestResources::image()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);

    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    const QImage picture = reader.read();
    QVERIFY2(!picture.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(picture.size(), size);

    // A blank or single-colour square is no picture.
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            colours.insert(picture.pixel(x, y));
    QVERIFY2(colours.size() >= 4, qPrintable(QStringLiteral("%1 colours").arg(colours.size())));
}

void TestResources::toolkitConfiguration()
{
    QVERIFY(QFile::exists(QStringLiteral(":/qt/etc/qt.conf")));
    QSettings conf(QStringLiteral(":/qt/etc/qt.conf"), QSettings::IniFormat);
    QCOMPARE(conf.childGroups(), QStringList{QStringLiteral("Paths")});
    conf.beginGroup(QStringLiteral("Paths"));
    const QStringList expected{
        "Documentation=../doc", "Headers=../include", "Libraries=../lib", "Binaries=.",
        "Plugins=../lib/plugins", "Imports=../imports", "Data=../lib",
        "Translations=../translations", "Settings=../lib", "Examples=../examples",
        "Demos=../examples"};
    QStringList found;
    for (const QString &key : conf.childKeys())
        found << key + QLatin1Char('=') + conf.value(key).toString();
    QStringList sortedExpected = expected;
    sortedExpected.sort();
    found.sort();
    QCOMPARE(found, sortedExpected);
}

ZARVO_TEST_MAIN_CORE(TestResources)
#include "tst_resources.moc"
