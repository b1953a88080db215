#ifndef ZARVO_UTIL_TREEPERMISSIONS_H
#define ZARVO_UTIL_TREEPERMISSIONS_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <sys/types.h>

// The permissions an installed tree gets. By default those of anything the
// installing user creates: the umask decides. An installation for all users
// gets directories 0755 and files 0644, or 0755 when the owner may execute
// the original, whatever the umask, as package managers install. An
// installation given to a group belongs to that group and is readable by it
// but not by others: 0750, 0640 or 0750. Links are never followed.
class TreePermissions
{
    Q_DECLARE_TR_FUNCTIONS(TreePermissions)

public:
    void setForAllUsers(bool forAllUsers) { m_forAllUsers = forAllUsers; }
    void setGroup(gid_t group);
    bool forAllUsers() const { return m_forAllUsers; }
    bool hasGroup() const { return m_hasGroup; }
    gid_t group() const { return m_group; }
    // Whether modes are fixed here rather than by the umask.
    bool isFixed() const { return m_forAllUsers || m_hasGroup; }

    // The mode of a copied file whose original has `original`.
    mode_t fileMode(mode_t original, mode_t umask) const;
    // The permission bits to extract an archive entry of mode `stored` with.
    mode_t entryMode(mode_t stored) const;

    // Gives a file or directory that the installation made the group and
    // then `mode`; false with errno set on failure.
    bool settle(const QByteArray &path, mode_t mode) const;
    // The same with the fixed mode of a directory, or of a file that the
    // installation writes itself; nothing to do when the umask decides.
    bool settleDirectory(const QByteArray &path) const;
    bool settleFile(const QByteArray &path) const;
    // The same on an open file or directory, which no link can stand in for.
    bool settleDescriptor(int fd, mode_t mode) const;
    bool settleDirectoryDescriptor(int fd) const;
    // The same for a file this process has just created with `mode` under
    // `umask`: the mode is set only where the umask took bits away, which
    // spares a round trip per file on a network file system.
    bool settleCreatedFile(int fd, mode_t mode, mode_t umask) const;
    // Only the group, of anything, a link included.
    bool settleGroup(const QByteArray &path) const;

    // makePath(path, 0755), with every directory it creates, and path itself,
    // settled. 0 on success, -1 with errno set on failure.
    int makePath(const QString &path) const;
    // Creates the missing directories below `top` on the way to `path`,
    // settled, before anything else creates them with the umask's modes.
    bool makeParents(const QByteArray &top, const QByteArray &path) const;

    // The group called `name`, when this process may give files to it (root,
    // or a member); otherwise false and a sentence saying why.
    static bool lookUpGroup(const QString &name, gid_t *group, QString *problem);

private:
    mode_t fixedMode(bool directoryOrExecutable) const;

    bool m_forAllUsers = false;
    bool m_hasGroup = false;
    gid_t m_group = 0;
};

#endif
