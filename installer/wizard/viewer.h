#ifndef ZARVO_WIZARD_VIEWER_H
#define ZARVO_WIZARD_VIEWER_H

#include <QMainWindow>

class QTextBrowser;

// A stand-alone window showing one text file; deletes itself when closed.
class Viewer : public QMainWindow
{
    Q_OBJECT

public:
    explicit Viewer(const QString &path, QWidget *parent = nullptr);
    ~Viewer() override;

private:
    QTextBrowser *browser;
};

#endif
