#include "installer/engine/installthread.h"

#include "util/tar.h"

InstallThread::InstallThread(const QString &source, const QString &destination)
    : tar(new Tar(this))
    , source(source)
    , destination(destination)
    , fromArchive(false)
{
}

InstallThread::~InstallThread()
{
    tar->cancel();
    wait();
}

QStringList InstallThread::missingLibraries() const
{
    return m_missingLibraries;
}

void InstallThread::run()
{
}

bool InstallThread::copyCrayFiles()
{
    return true;
}
