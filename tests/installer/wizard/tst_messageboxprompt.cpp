#include "installer/wizard/messageboxprompt.h"
#include "tests/support/testenvironment.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <functional>

// The boxes are modal: a timer finds each one while it runs, notes what it
// shows and answers it.
class TestMessageBoxPrompt : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void askYesNo_data();
    void askYesNo();
    void tell_data();
    void tell();
    void parentIsOwnerWidget_data();
    void parentIsOwnerWidget();

private:
    struct SeenBox
    {
        bool seen = false;
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QWidget *parent = nullptr;
        Qt::TextFormat labelFormat = Qt::AutoText;
        QSize size;
        QSize screen;
        QString shown; // what the visible labels show
        QString heard; // what a screen reader reads: the box's description, the labels' names
    };
    void answerNextBox(const std::function<void(QMessageBox *)> &answer, SeenBox *seen);
};

using Answer = std::function<void(QMessageBox *)>;
Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(UserPrompt::Severity)

void TestMessageBoxPrompt::answerNextBox(const Answer &answer, SeenBox *seen)
{
    auto *timer = new QTimer(this);
    timer->setInterval(10);
    connect(timer, &QTimer::timeout, this, [timer, answer, seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        seen->seen = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        seen->parent = box->parentWidget();
        if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
            seen->labelFormat = label->textFormat();
        seen->size = box->size();
        seen->screen = box->screen()->availableGeometry().size();
        seen->heard = QAccessible::queryAccessibleInterface(box)->text(QAccessible::Description);
        for (QLabel *label : box->findChildren<QLabel *>()) {
            if (label->isVisible()) {
                seen->shown += label->text().remove(QChar(0x200B));
                seen->heard += QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
            }
        }
        answer(box);
    });
    timer->start();
}

void TestMessageBoxPrompt::cleanup()
{
    // A box left open would hold up every later test.
    QVERIFY(!QApplication::activeModalWidget());
}

static Answer click(QMessageBox::StandardButton which)
{
    return [which](QMessageBox *box) { box->button(which)->click(); };
}

void TestMessageBoxPrompt::askYesNo_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("expected");

    QTest::newRow("Yes") << click(QMessageBox::Yes) << true;
    QTest::newRow("No") << click(QMessageBox::No) << false;
    QTest::newRow("Return, even repeated") << Answer([](QMessageBox *box) {
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Return);
    }) << false;
    QTest::newRow("Escape") << Answer([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); })
                            << false;
    QTest::newRow("window closed") << Answer([](QMessageBox *box) { box->close(); }) << false;
}

void TestMessageBoxPrompt::askYesNo()
{
    QFETCH(Answer, answer);
    QFETCH(bool, expected);

    // Paths may look like markup; the user must see them as they are.
    const QString text = QStringLiteral("The directory <b>/home/ann/a&amp;b</b> exists.\nReuse it?");
    SeenBox seen;
    answerNextBox(answer, &seen);
    MessageBoxPrompt prompt;
    const bool result = prompt.askYesNo(nullptr, QStringLiteral("Destination Exists"), text);

    QVERIFY(seen.seen);
    QCOMPARE(result, expected);
    QCOMPARE(seen.title, QStringLiteral("Destination Exists"));
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.labelFormat, Qt::PlainText);
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
}

void TestMessageBoxPrompt::tell_data()
{
    QTest::addColumn<UserPrompt::Severity>("severity");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("text");

    const QString text = QStringLiteral("Corvane Zarvo installation files not found in \"/tmp/<i>x</i>\".");
    const QString deep = (QLatin1Char('/') + QString(255, QLatin1Char('z'))).repeated(36);
    QTest::newRow("critical") << UserPrompt::Critical << QMessageBox::Critical << text;
    QTest::newRow("warning") << UserPrompt::Warning << QMessageBox::Warning << text;
    QTest::newRow("text taller than the screen")
        << UserPrompt::Critical << QMessageBox::Critical
        << QStringLiteral("Can't open \"%1\" for writing.").arg(deep);
}

void TestMessageBoxPrompt::tell()
{
    QFETCH(UserPrompt::Severity, severity);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QString, text);

    SeenBox seen;
    answerNextBox(click(QMessageBox::Ok), &seen);
    MessageBoxPrompt prompt;
    prompt.tell(nullptr, severity, QStringLiteral("Missing Installation Files"), text);

    QVERIFY(seen.seen);
    QCOMPARE(seen.title, QStringLiteral("Missing Installation Files"));
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.labelFormat, Qt::PlainText);
    QCOMPARE(seen.icon, icon);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.screen.expandedTo(seen.size), seen.screen);
    QCOMPARE(seen.shown, text);
    QCOMPARE(seen.heard, text + text);
}

void TestMessageBoxPrompt::parentIsOwnerWidget_data()
{
    QTest::addColumn<QString>("owner");
    QTest::newRow("widget owner") << "widget";
    QTest::newRow("owner that is no widget") << "object";
    QTest::newRow("no owner") << "none";
}

void TestMessageBoxPrompt::parentIsOwnerWidget()
{
    QFETCH(QString, owner);

    QWidget window;
    QObject controller;
    QObject *ownerObject = owner == QLatin1String("widget") ? static_cast<QObject *>(&window)
                         : owner == QLatin1String("object") ? &controller
                                                            : nullptr;
    QWidget *expectedParent = owner == QLatin1String("widget") ? &window : nullptr;
    if (expectedParent)
        window.show();

    MessageBoxPrompt prompt;
    SeenBox asked;
    answerNextBox(click(QMessageBox::No), &asked);
    prompt.askYesNo(ownerObject, QStringLiteral("Destination Exists"), QStringLiteral("Reuse?"));
    SeenBox told;
    answerNextBox(click(QMessageBox::Ok), &told);
    prompt.tell(ownerObject, UserPrompt::Warning, QStringLiteral("Missing Dependancies"),
                QStringLiteral("libfoo.so.1"));

    QVERIFY(asked.seen && told.seen);
    QCOMPARE(asked.parent, expectedParent);
    QCOMPARE(told.parent, expectedParent);
}

ZARVO_TEST_MAIN_WIDGETS(TestMessageBoxPrompt)
#include "tst_messageboxprompt.moc"
