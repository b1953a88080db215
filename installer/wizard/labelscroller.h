#ifndef ZARVO_WIZARD_LABELSCROLLER_H
#define ZARVO_WIZARD_LABELSCROLLER_H

#include <QScrollArea>

class QLabel;

// Takes a word-wrapped label's place in its layout and holds it: as tall as
// the label's text while that fits in `lines` lines, scrolling beyond, so
// that a long text never makes its page or window taller.
class LabelScroller : public QScrollArea
{
public:
    LabelScroller(QLabel *label, int lines);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    bool viewportEvent(QEvent *event) override;

private:
    int tallest() const;

    QLabel *label;
    int lines;
};

#endif
