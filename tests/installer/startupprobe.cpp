// Helper of the start-up tests, copied into temporary trees by them:
//   startupprobe source              prints what the source search finds,
//                                    then each place it looks, a line each
//   startupprobe message TYPE TEXT   sends TEXT through the installer's message
//                                    handler, then prints "went on"
#include "installer/installationsource.h"
#include "installer/messagehandler.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <cstdio>

namespace {

bool emitMessage(const QString &type, const QByteArray &text)
{
    if (type == QLatin1String("debug"))
        qDebug("%s", text.constData());
    else if (type == QLatin1String("info"))
        qInfo("%s", text.constData());
    else if (type == QLatin1String("warning"))
        qWarning("%s", text.constData());
    else if (type == QLatin1String("critical"))
        qCritical("%s", text.constData());
    else if (type == QLatin1String("fatal"))
        qFatal("%s", text.constData());
    else if (type == QLatin1String("thread-warning")) {
        QThread *worker = QThread::create([text] { qWarning("%s", text.constData()); });
        worker->start();
        worker->wait();
        delete worker;
    } else
        return false;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(installerMessageHandler);
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();

    if (arguments.size() == 2 && arguments.at(1) == QLatin1String("source")) {
        const QString source = findInstallationSource();
        std::printf("%s\n", source.isNull() ? "<null>" : source.toUtf8().constData());
        for (const QString &dir : searchDirectories(QCoreApplication::applicationDirPath()))
            std::printf("%s\n", dir.toUtf8().constData());
        return 0;
    }
    if (arguments.size() == 4 && arguments.at(1) == QLatin1String("message")) {
        if (!emitMessage(arguments.at(2), arguments.at(3).toUtf8()))
            return 2;
        std::printf("went on\n");
        return 0;
    }
    return 2;
}
