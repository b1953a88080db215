#ifndef ZARVO_ADMINISTRATION_ADMINISTRATION_H
#define ZARVO_ADMINISTRATION_ADMINISTRATION_H

#include "installer/administration/text.h"

#include <string>

// Uninstall and verify an installation from its record. Plain C++ and the C
// library, so that the small program "uninstall" inside every installation
// needs nothing a cluster node lacks; textinstall runs the same code.
namespace Administration {

enum ExitStatus { Done = 0, Failed = 1, UsageError = 2, Interrupted = 130 };

// The name of that program at the top of an installation.
extern const char removerName[];

// Where the commands talk to the user: by default standard output and
// error, and questions on the terminal.
class Io
{
public:
    enum Answer { Yes, No, NoTerminal, Stopped };

    virtual ~Io() = default;
    // A line of data on standard output, as it stands.
    virtual void print(const std::string &line);
    // A message on standard error.
    virtual void complain(const Text &message);
    // Asks on the terminal; Stopped when a signal came instead of an answer.
    virtual Answer ask(const Text &question);
    virtual std::string translate(const Text &message) const;

    void tell(const Text &message) { print(translate(message)); }
};

struct UninstallOptions
{
    bool assumeYes = false; // remove without asking
    bool purge = false;     // remove changed and added files too
};

// Removes the installation in `directory`: every entry of its record whose
// content is unchanged, its desktop registrations, then the directories it
// made once they are empty. Changed and added files are kept and listed. It
// refuses, with nothing removed, without a valid record or when the record
// places the installation elsewhere. A run that was stopped (even killed)
// is completed by the next. Returns the exit status.
int uninstall(Io &io, const std::string &directory, const UninstallOptions &options);

// Compares the installation in `directory` with its record: one line per
// difference on standard output (with `showAdded`, also for what the record
// does not know). Done when nothing differs.
int verify(Io &io, const std::string &directory, bool showAdded);

} // namespace Administration

#endif
