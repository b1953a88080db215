#ifndef ZARVO_WIZARD_VIEWER_H
#define ZARVO_WIZARD_VIEWER_H

#include <QMainWindow>

#include <memory>

class QFile;
class QTextBrowser;
class QTextDecoder;
class QTimer;

// A stand-alone window showing one text file; deletes itself when closed.
// Only a regular file is read, at most its first few megabytes, a piece at a
// time, so that the window never stops answering while it reads.
class Viewer : public QMainWindow
{
    Q_OBJECT

public:
    explicit Viewer(const QString &path, QWidget *parent = nullptr);
    ~Viewer() override;

    static const int shownBytes = 4 * 1024 * 1024;

private:
    void readPiece();

    QTextBrowser *browser;
    QString path;
    std::unique_ptr<QFile> file;
    std::unique_ptr<QTextDecoder> decoder;
    QTimer *reader;
    qint64 bytesRead;
};

#endif
