#include "tests/support/testenvironment.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

namespace {

QTemporaryDir *privateTree()
{
    static QTemporaryDir tree(QDir::tempPath() + QStringLiteral("/zarvo-test-home-XXXXXX"));
    if (!tree.isValid())
        qFatal("cannot create the temporary home of this test");
    return &tree;
}

void pointAt(const char *variable, const QString &path)
{
    QDir().mkpath(path);
    qputenv(variable, QFile::encodeName(path));
}

} // namespace

namespace TestEnvironment {

void setUp(const char *platform)
{
    const QString root = privateTree()->path();
    pointAt("HOME", root + QStringLiteral("/home"));
    pointAt("XDG_DATA_HOME", root + QStringLiteral("/home/.local/share"));
    pointAt("XDG_CONFIG_HOME", root + QStringLiteral("/home/.config"));
    pointAt("XDG_CACHE_HOME", root + QStringLiteral("/home/.cache"));
    pointAt("XDG_STATE_HOME", root + QStringLiteral("/home/.local/state"));
    pointAt("XDG_DATA_DIRS", root + QStringLiteral("/usr/share"));
    pointAt("XDG_CONFIG_DIRS", root + QStringLiteral("/etc/xdg"));
    pointAt("XDG_RUNTIME_DIR", root + QStringLiteral("/run"));
    QFile::setPermissions(root + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // A desktop session in the developer's environment must not leak into tests.
    qunsetenv("KDE_FULL_SESSION");
    qunsetenv("GNOME_DESKTOP_SESSION_ID");
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("XDG_UTILS_INSTALL_MODE");
    if (platform && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", platform);
}

QString home()
{
    return privateTree()->path() + QStringLiteral("/home");
}

bool writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (file.write(body) != body.size())
        return false;
    file.close();
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                           | QFile::ReadGroup | QFile::ExeGroup
                                           | QFile::ReadOther | QFile::ExeOther);
}

int writersOfRow()
{
    return QByteArray(QTest::currentDataTag()).endsWith("(pool)") ? 4 : -1;
}

} // namespace TestEnvironment
