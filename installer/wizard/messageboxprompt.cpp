#include "installer/wizard/messageboxprompt.h"

#include "installer/wizard/breakabletext.h"

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QWidget>

namespace {

// A message box sizes itself to its whole text, however tall; a long one
// would put its buttons out of reach below the screen. This one keeps to the
// screen: a text too long for it scrolls, wrapped anywhere.
class ScreenFitMessageBox : public QMessageBox
{
public:
    ScreenFitMessageBox(Icon icon, const QString &title, const QString &text,
                        StandardButtons buttons, QWidget *parent)
        : QMessageBox(icon, title, text, buttons, parent)
    {
        // Texts carry paths, which may look like markup.
        setTextFormat(Qt::PlainText);
        // A screen reader announces the box by its title and this.
        setAccessibleDescription(text);
    }

protected:
    bool event(QEvent *event) override
    {
        const bool handled = QMessageBox::event(event);
        // The box works out its size when shown and on each layout request.
        if (event->type() == QEvent::Show || event->type() == QEvent::LayoutRequest)
            fitToScreen();
        return handled;
    }

private:
    void fitToScreen()
    {
        // Leaves room for the title bar that the window manager adds.
        const int tallest = screen()->availableGeometry().height() * 9 / 10;
        auto *label = findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        if (scroller || height() <= tallest || !label)
            return;
        // Lay the box out at the size it chose, to learn the label's share.
        layout()->invalidate();
        layout()->activate();
        const int others = height() - label->height();

        // The box's own label stays its text; a copy that can wrap anywhere
        // takes its place.
        auto *shown = new QLabel(breakableAnywhere(text()));
        shown->setAccessibleName(text());
        shown->setTextFormat(Qt::PlainText);
        shown->setWordWrap(true);
        shown->setAlignment(label->alignment());
        shown->setTextInteractionFlags(label->textInteractionFlags());
        scroller = new QScrollArea(this);
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setWidgetResizable(true);
        scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroller->setWidget(shown);
        scroller->setMinimumWidth(label->width());
        scroller->setFixedHeight(qMax(tallest - others, 4 * fontMetrics().lineSpacing()));
        delete layout()->replaceWidget(label, scroller);
        label->hide();
        scroller->show();

        // Size the box again at once, before it is first painted.
        QEvent relayout(QEvent::LayoutRequest);
        QApplication::sendEvent(this, &relayout);
    }

    QScrollArea *scroller = nullptr;
};

} // namespace

bool MessageBoxPrompt::askYesNo(QObject *owner, const QString &title, const QString &text)
{
    ScreenFitMessageBox box(QMessageBox::Question, title, text,
                            QMessageBox::Yes | QMessageBox::No, qobject_cast<QWidget *>(owner));
    // Yes only by a deliberate choice: a held or repeated Return must not
    // install over an existing directory.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MessageBoxPrompt::tell(QObject *owner, Severity severity, const QString &title,
                            const QString &text)
{
    const QMessageBox::Icon icon =
        severity == Critical ? QMessageBox::Critical : QMessageBox::Warning;
    ScreenFitMessageBox box(icon, title, text, QMessageBox::Ok, qobject_cast<QWidget *>(owner));
    box.exec();
}
