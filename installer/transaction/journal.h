#ifndef ZARVO_TRANSACTION_JOURNAL_H
#define ZARVO_TRANSACTION_JOURNAL_H

#include <QByteArray>
#include <QVector>

#include <sys/stat.h>
#include <time.h>

// The journal of one installation transaction: a text file, one record a
// line, only ever appended to, made durable before the step it announces.
//
//   zarvo-transaction 1
//   destination <path>             the destination as named, absolute
//   home <path>                    the directory holding the transaction
//   times <as> <ans> <ms> <mns>    the home's access and modification times
//   existing | fresh <name>        fresh: the first missing component, staged
//   begun                          end of the header
//   remove <path> <mode>           plan of an existing destination's commit,
//   place <path> <mode> <mode|->   written in one piece, each path relative
//   directory <path> <mode> <as> <ans> <ms> <mns>   to the destination
//   commit                         renames into the destination may follow
//
// Paths are percent-encoded bytes; modes octal; times seconds and
// nanoseconds. A last line without its line feed was cut short and is not
// part of the journal. Once the renames are done (or undone) the journal is
// renamed, which needs no space: its name tells that state.
namespace Journal {

struct Step
{
    enum Kind { Remove, Place, Directory };
    Kind kind = Remove;
    QByteArray path;
    // Remove: the entry's mode. Place: the staged entry's mode. Directory:
    // the destination directory's mode before the commit.
    mode_t mode = 0;
    // Place: the mode of the entry it replaces, when there was one.
    bool replaces = false;
    mode_t replacedMode = 0;
    // Directory: its access and modification times before the commit.
    struct timespec times[2] = {};
};

struct Contents
{
    QByteArray destination;
    QByteArray home;
    struct timespec homeTimes[2] = {};
    bool fresh = false;
    QByteArray top;
    // False when the header is incomplete: the transaction never began.
    bool begun = false;
    QVector<Step> plan;
    // Only with a complete plan before it.
    bool commitStarted = false;
};

QByteArray header(const Contents &contents);
// The plan and the "commit" line that ends it.
QByteArray plan(const QVector<Step> &steps);

// Parses what was written so far. False only for a journal of another
// format; a cut-off or damaged plan counts as a commit that never started.
bool parse(const QByteArray &text, Contents *contents);

} // namespace Journal

#endif
