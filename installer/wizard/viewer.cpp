#include "installer/wizard/viewer.h"

#include <QTextBrowser>

Viewer::Viewer(const QString &path, QWidget *parent)
    : QMainWindow(parent)
    , browser(new QTextBrowser(this))
{
    Q_UNUSED(path);
    setCentralWidget(browser);
}

Viewer::~Viewer() = default;
