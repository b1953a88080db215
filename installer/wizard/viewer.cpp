#include "installer/wizard/viewer.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QScreen>
#include <QTextBrowser>
#include <QTextStream>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int pieceBytes = 256 * 1024;

// Without blocking: opening a named pipe would wait for a writer, and a
// device such as /dev/zero never ends.
std::unique_ptr<QFile> openRegularFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    auto file = std::make_unique<QFile>();
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)
        || !file->open(fd, QIODevice::ReadOnly | QIODevice::Text, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

} // namespace

Viewer::Viewer(const QString &path, QWidget *parent)
    : QMainWindow(parent)
    , browser(new QTextBrowser(this))
    , path(path)
    , reader(new QTimer(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    browser->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    browser->setReadOnly(true);
    setCentralWidget(browser);
    setWindowTitle(QFileInfo(path).fileName());

    // Wide enough for a typical line of the release notes, forty lines high,
    // but never larger than the screen.
    const QFontMetrics metrics(browser->font());
    const QSize wanted(metrics.horizontalAdvance(QStringLiteral(
                           "    Your chosen program will be run using mpirun. If you have problems startingMMMMM")),
                       40 * metrics.lineSpacing());
    resize(wanted.boundedTo(screen()->availableGeometry().size() * 9 / 10));
    browser->setFocus();

    file = openRegularFile(path);
    if (file) {
        connect(reader, &QTimer::timeout, this, &Viewer::readPiece);
        reader->start(0);
    }
}

Viewer::~Viewer() = default;

void Viewer::readPiece()
{
    // One more byte than is shown tells whether the file goes on.
    const QByteArray piece = file->read(qMin<qint64>(pieceBytes, shownBytes + 1 - bytes.size()));
    bytes += piece;
    if (!piece.isEmpty() && bytes.size() <= shownBytes)
        return;
    reader->stop();
    file.reset();
    const bool cut = bytes.size() > shownBytes;
    showText(std::move(bytes), cut);
}

void Viewer::showText(QByteArray text, bool cut)
{
    if (cut) {
        // Cut after the last whole line shown.
        text.truncate(shownBytes);
        const int lineEnd = text.lastIndexOf('\n');
        if (lineEnd >= 0)
            text.truncate(lineEnd + 1);
    }
    QTextStream stream(&text, QIODevice::ReadOnly);
    QString shown = stream.readAll();
    if (cut)
        shown += QLatin1Char('\n')
            + tr("[Only the first %1 MB of this file are shown; the rest is left out. "
                 "The whole text is in \"%2\".]")
                  .arg(shownBytes / (1024 * 1024))
                  .arg(path);
    browser->setPlainText(shown);
}
