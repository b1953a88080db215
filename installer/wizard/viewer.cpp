#include "installer/wizard/viewer.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QTextBrowser>
#include <QTextStream>

Viewer::Viewer(const QString &path, QWidget *parent)
    : QMainWindow(parent)
    , browser(new QTextBrowser(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    browser->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    browser->setReadOnly(true);
    setCentralWidget(browser);
    setWindowTitle(QFileInfo(path).fileName());

    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        browser->setPlainText(stream.readAll());
    }

    // Wide enough for a typical line of the release notes, forty lines high.
    const QFontMetrics metrics(browser->font());
    resize(metrics.horizontalAdvance(QStringLiteral(
               "    Your chosen program will be run using mpirun. If you have problems startingMMMMM")),
           40 * metrics.lineSpacing());
    browser->setFocus();
}

Viewer::~Viewer() = default;
