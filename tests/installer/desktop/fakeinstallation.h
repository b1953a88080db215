#ifndef ZARVO_TESTS_FAKEINSTALLATION_H
#define ZARVO_TESTS_FAKEINSTALLATION_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// An installed tree in a temporary directory with the pieces the desktop
// integration looks at: icons, the shipped desktop entry, and fake tools that
// log each run as "tool|XDG_UTILS_INSTALL_MODE|arg|arg..." to one file.
class FakeInstallation
{
public:
    FakeInstallation();

    bool isValid() const { return m_tmp.isValid(); }
    QString tmpPath() const { return m_tmp.path(); }
    // The installation directory; below the temporary directory, so that the
    // name may carry unusual characters.
    QString dir() const { return m_dir; }
    QString entryPath() const { return m_dir + QStringLiteral("/icons/corvane-zarvo.desktop"); }

    void setDirName(const QString &name);
    bool addIcons(const QByteArray &entry = shippedEntry());
    // A fake tool in libexec; `body` decides its exit status, with the
    // arguments in $1..$4.
    bool addTool(const QString &name, const QByteArray &body = "exit 0");
    bool addAllTools() { return addTool(QStringLiteral("xdg-icon-resource"))
                                && addTool(QStringLiteral("xdg-desktop-menu")); }
    // A fake tool in the directory `binDir()`, to put first on PATH.
    bool addPathTool(const QString &name, const QByteArray &body = "exit 0");
    QString binDir() const { return m_tmp.path() + QStringLiteral("/path-bin"); }

    // A script at path that logs its runs like the fake tools.
    bool writeTool(const QString &path, const QByteArray &body);

    QStringList runs() const;
    QByteArray entry() const;

    static QByteArray shippedEntry();
    static const QList<int> &iconSizes();

private:
    QTemporaryDir m_tmp;
    QString m_dir;
};

// Puts a directory first on PATH for as long as it lives.
class PathPrepend
{
public:
    explicit PathPrepend(const QString &dir);
    ~PathPrepend();

private:
    QByteArray m_old;
};

#endif
