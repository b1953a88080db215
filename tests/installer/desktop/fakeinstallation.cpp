#include "tests/installer/desktop/fakeinstallation.h"

#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>

FakeInstallation::FakeInstallation()
{
    setDirName(QStringLiteral("inst"));
}

void FakeInstallation::setDirName(const QString &name)
{
    m_dir = m_tmp.path() + QLatin1Char('/') + name;
    QDir().mkpath(m_dir + QStringLiteral("/bin"));
    QDir().mkpath(m_dir + QStringLiteral("/libexec"));
}

const QList<int> &FakeInstallation::iconSizes()
{
    static const QList<int> sizes = { 16, 24, 32, 48 };
    return sizes;
}

QByteArray FakeInstallation::shippedEntry()
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Corvane Zarvo\n"
           "GenericName=Cluster Tools\n"
           "Comment=Debug and tune programs on a cluster\n"
           "TryExec=pesk\n"
           "Exec=pesk %F\n"
           "Icon=corvane-zarvo\n"
           "Categories=Development;Debugger;\n";
}

bool FakeInstallation::addIcons(const QByteArray &entry)
{
    for (const int size : iconSizes()) {
        const QString sizeDir = m_dir + QStringLiteral("/icons/%1x%1").arg(size);
        if (!QDir().mkpath(sizeDir))
            return false;
        // A real (one-pixel) PNG, so that the real icon tools accept it.
        static const QByteArray png = QByteArray::fromHex(
                "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                "1f15c4890000000b49444154789c63600002000005000"
                "17a5eab3f0000000049454e44ae426082");
        QFile icon(sizeDir + QStringLiteral("/corvane-zarvo.png"));
        if (!icon.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || icon.write(png) != png.size())
            return false;
    }
    QFile file(entryPath());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(entry) == entry.size();
}

bool FakeInstallation::writeTool(const QString &path, const QByteArray &body)
{
    const QByteArray log = QFile::encodeName(m_tmp.path() + QStringLiteral("/runs.log"));
    return TestEnvironment::writeScript(
            path, "#!/bin/sh\n"
                  "{ printf '%s|%s' \"${0##*/}\" \"${XDG_UTILS_INSTALL_MODE-unset}\"\n"
                  "  for a; do printf '|%s' \"$a\"; done; echo; } >> '" + log + "'\n"
                  + body + "\n");
}

bool FakeInstallation::addTool(const QString &name, const QByteArray &body)
{
    return writeTool(m_dir + QStringLiteral("/libexec/") + name, body);
}

bool FakeInstallation::addPathTool(const QString &name, const QByteArray &body)
{
    QDir().mkpath(binDir());
    return writeTool(binDir() + QLatin1Char('/') + name, body);
}

QStringList FakeInstallation::runs() const
{
    QFile file(m_tmp.path() + QStringLiteral("/runs.log"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray FakeInstallation::entry() const
{
    QFile file(entryPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

PathPrepend::PathPrepend(const QString &dir)
    : m_old(qgetenv("PATH"))
{
    qputenv("PATH", QFile::encodeName(dir) + ':' + m_old);
}

PathPrepend::~PathPrepend()
{
    qputenv("PATH", m_old);
}
