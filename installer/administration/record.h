#ifndef ZARVO_ADMINISTRATION_RECORD_H
#define ZARVO_ADMINISTRATION_RECORD_H

#include "installer/administration/text.h"

#include <string>
#include <vector>

namespace Administration {

// What an installation wrote, kept inside it next to ".installed" as
// ".installation-record", so that uninstall and verify know every entry. A
// text file of lines, fields separated by one blank; text fields are
// percent-encoded (bytes other than letters, digits, "-._~" and, in paths,
// "/"), so that any name fits on its line:
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
//
// Plain C++ without Qt: the program "uninstall" inside every installation
// reads it, and so does the installer (InstallationRecord).
struct Entry
{
    enum Type { Directory, File, Link };
    Type type = File;
    unsigned mode = 0;
    long long size = 0;
    std::string hash;   // files only: "xxh128:" and 32 hexadecimal digits
    std::string path;   // the file system's bytes
    std::string target; // links only
};

// A desktop registration: the tool, its mode ("user" or "system") and the
// file handed to it.
struct Registration
{
    std::string tool;
    std::string mode;
    std::string file;
};

struct Record
{
    static const char fileName[];
    static const int formatVersion = 1;

    std::string installerVersion;
    std::string productName;
    std::string productVersion;
    std::string date; // ISO 8601, UTC
    unsigned userId = 0;
    std::string userName;
    std::string sourceKind; // "archive" or "tree"
    std::string sourcePath;
    std::vector<std::string> options;
    std::vector<Entry> entries;
    std::vector<Registration> registrations;

    std::string text() const;
    // The value of the option "key=value"; empty when there is none.
    std::string option(const std::string &key) const;
};

// Why a record was refused: the line that is wrong (0 when the record was
// cut short) and what is wrong with it.
struct RecordProblem
{
    int line = 0;
    Text reason;
};

// Strict: any departure from the format is a problem.
bool parseRecord(const std::string &text, Record *record, RecordProblem *problem);

// The content hash's form: "xxh128:" and 32 lower-case hexadecimal digits.
bool isContentHash(const std::string &text);

} // namespace Administration

#endif
