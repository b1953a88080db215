#include "installer/wizard/viewer.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QScreen>
#include <QTextBrowser>
#include <QTextCodec>
#include <QTextCursor>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Small enough that showing a piece takes a few hundredths of a second.
const int pieceBytes = 64 * 1024;

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
    , bytesRead(0)
{
    setAttribute(Qt::WA_DeleteOnClose);
    browser->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    browser->setReadOnly(true);
    browser->setUndoRedoEnabled(false);
    setCentralWidget(browser);
    setWindowTitle(QFileInfo(path).fileName());
    browser->setAccessibleName(tr("Text of %1").arg(windowTitle()));
    browser->setAccessibleDescription(tr("The file \"%1\", read only.").arg(path));

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
    QByteArray piece = file->read(qMin<qint64>(pieceBytes, shownBytes + 1 - bytesRead));
    bytesRead += piece.size();
    const bool cut = bytesRead > shownBytes;
    if (cut) {
        // Up to the last whole line within the bytes shown.
        piece.chop(int(bytesRead - shownBytes));
        piece.truncate(piece.lastIndexOf('\n') + 1);
    }
    // The decoding a text stream would choose: the locale's, unless the
    // file starts with a byte-order mark.
    if (!decoder)
        decoder.reset(QTextCodec::codecForUtfText(piece, QTextCodec::codecForLocale())->makeDecoder());
    QTextCursor end(browser->document());
    end.movePosition(QTextCursor::End);
    end.insertText(decoder->toUnicode(piece));
    if (!piece.isEmpty() && !cut)
        return;

    reader->stop();
    file.reset();
    if (cut) {
        end.insertText(QLatin1Char('\n')
                       + tr("[Only the first %1 MB of this file are shown; the rest is left out. "
                            "The whole text is in \"%2\".]")
                             .arg(shownBytes / (1024 * 1024))
                             .arg(path));
    }
}
