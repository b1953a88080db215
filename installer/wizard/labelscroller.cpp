#include "installer/wizard/labelscroller.h"

#include <QEvent>
#include <QLabel>
#include <QLayout>

LabelScroller::LabelScroller(QLabel *label, int lines)
    : label(label)
    , lines(lines)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Only a view of the label: neither a stop for Tab nor a background.
    setFocusPolicy(Qt::NoFocus);
    QSizePolicy policy = label->sizePolicy();
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    if (QLayout *layout = label->parentWidget() ? label->parentWidget()->layout() : nullptr)
        delete layout->replaceWidget(label, this);
    setWidget(label);
    viewport()->setAutoFillBackground(false);
    label->setAutoFillBackground(false);
}

int LabelScroller::tallest() const
{
    return lines * label->fontMetrics().lineSpacing();
}

QSize LabelScroller::sizeHint() const
{
    const int width = label->sizeHint().width();
    return QSize(width, heightForWidth(width));
}

QSize LabelScroller::minimumSizeHint() const
{
    return QSize(label->minimumSizeHint().width(), heightForWidth(label->minimumSizeHint().width()));
}

bool LabelScroller::hasHeightForWidth() const
{
    return true;
}

int LabelScroller::heightForWidth(int width) const
{
    // At least a line, even while empty: a text set while no events are
    // processed must have room to be painted at once.
    return qBound(label->fontMetrics().lineSpacing(), label->heightForWidth(width), tallest());
}

bool LabelScroller::viewportEvent(QEvent *event)
{
    // The label asks its parent, the viewport, to lay it out again when its
    // text changes; the page must then make room for it.
    if (event->type() == QEvent::LayoutRequest)
        updateGeometry();
    return QScrollArea::viewportEvent(event);
}
