#ifndef ZARVO_TRANSACTION_INSTALLATIONRECORD_H
#define ZARVO_TRANSACTION_INSTALLATIONRECORD_H

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <sys/types.h>

// What an installation wrote, kept inside it next to ".installed" as
// ".installation-record", so that a later uninstall or verify knows every
// entry. A text file of lines, fields separated by one blank; text fields
// are percent-encoded (bytes other than letters, digits, "-._~" and, in
// paths, "/"), so that any name fits on its line:
//
//   corvane-zarvo-installation-record 1
//   installer 25.1.3
//   product Corvane%20Zarvo 25.1.3
//   date 2026-12-08T11:44:18Z
//   user 1000 alice
//   source archive /srv/zarvo/zarvo.tgz           (or: tree <directory>)
//   option install-mode%3Duser                    (any number)
//   entry d 0755 0 - bin                          type mode size hash path
//   entry f 0755 1234 xxh128:<32 digits> bin/pesk
//   entry l 0777 4 - bin/lumo pesk                a link's last field: its target
//   registration xdg-desktop-menu user /opt/x/icons/corvane-zarvo.desktop
//   end 3 1                                       entries, registrations
//
// Paths are relative to the installation. Every line ends with a line feed;
// "end" is the last line, so a record cut short is told from a whole one.
class InstallationRecord
{
    Q_DECLARE_TR_FUNCTIONS(InstallationRecord)

public:
    struct Entry
    {
        enum Type { Directory, File, Link };
        Type type = File;
        mode_t mode = 0;
        qint64 size = 0;
        QByteArray hash; // files only: ContentHash's text
        QByteArray path;
        QByteArray target; // links only
    };
    // A desktop registration: the tool, its mode ("user" or "system") and
    // the file handed to it.
    struct Registration
    {
        QString tool;
        QString mode;
        QString file;
    };

    static const char fileName[];
    // The copy of the installation's log, next to the record.
    static const char logFileName[];
    static const int formatVersion = 1;
    // Files of the installation that the record does not list: the marker,
    // the record itself and the log's copy, at the top.
    static bool isOwnFile(const QByteArray &name);

    // Installer and product version, date and user of this run.
    static InstallationRecord forThisRun(const QString &sourceKind, const QString &sourcePath,
                                         const QStringList &options);

    // Describes every entry below `directory` as it is now, hashing each
    // regular file by reading it unless `hashes` has its hash already (by
    // relative path, computed while it was written). False with `error` when
    // something cannot be read.
    bool describeTree(const QString &directory, QString *error,
                      const QHash<QByteArray, QByteArray> &hashes = {});

    QByteArray toText() const;
    // Written whole or not at all.
    bool save(const QString &path, QString *error) const;
    // Strict: any departure from the format is an error naming the line.
    static bool parse(const QByteArray &text, const QString &name, InstallationRecord *record,
                      QString *error);
    static bool load(const QString &path, InstallationRecord *record, QString *error);

    QSet<QByteArray> paths() const;

    QString installerVersion;
    QString productName;
    QString productVersion;
    QDateTime date;
    uint userId = 0;
    QString userName;
    QString sourceKind; // "archive" or "tree"
    QString sourcePath;
    QStringList options;
    QVector<Entry> entries;
    QVector<Registration> registrations;
};

#endif
