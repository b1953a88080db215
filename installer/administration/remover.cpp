// The program "uninstall" that every installation carries at its top: it
// removes (or verifies) the installation it lies in, or the one named, with
// nothing but the C library, so that it runs on any node of a cluster.
#include "installer/administration/administration.h"

#include <string>
#include <vector>

#include <climits>
#include <unistd.h>

namespace {

const char usage[] =
    "Usage: %1 [--yes] [--purge] [DIR]\n"
    "       %1 --verify [--added] [DIR]\n"
    "Removes the installation in DIR, by default the one this program lies in:\n"
    "every file it wrote that is unchanged, the directories it made once they\n"
    "are empty, and its desktop registrations. Files changed or added since the\n"
    "installation are kept and listed. Asks first on a terminal.\n"
    "\n"
    "  --yes      remove without asking\n"
    "  --purge    remove changed and added files too\n"
    "  --verify   compare the installation with its record instead, one line\n"
    "             per difference: missing, type (another kind of entry), or\n"
    "             S size, M mode, 5 content, L link target\n"
    "  --added    with --verify: list entries added since the installation too\n"
    "  --help     show this text\n"
    "\n"
    "Exit status: 0 done; 1 failed or refused (--verify: the installation\n"
    "differs from its record); 2 bad command line; 130 interrupted.";

// The directory this program lies in.
std::string ownDirectory()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string program(path, size_t(length));
    const size_t slash = program.rfind('/');
    return slash == 0 ? "/" : program.substr(0, slash);
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace Administration;
    Io io;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    UninstallOptions options;
    bool verifying = false;
    bool showAdded = false;
    std::string directory;
    bool optionsEnded = false;
    for (const std::string &argument : arguments) {
        if (optionsEnded || argument.empty() || argument[0] != '-') {
            if (!directory.empty()) {
                io.complain(text("Only one directory can be given."));
                return UsageError;
            }
            directory = argument;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--yes") {
            options.assumeYes = true;
        } else if (argument == "--purge") {
            options.purge = true;
        } else if (argument == "--verify") {
            verifying = true;
        } else if (argument == "--added") {
            showAdded = true;
        } else if (argument == "--help") {
            io.tell(text(usage, {argv[0]}));
            return Done;
        } else {
            io.complain(text("Unknown option \"%1\".", {printable(argument)}));
            io.complain(text(usage, {argv[0]}));
            return UsageError;
        }
    }
    if (verifying && (options.assumeYes || options.purge)) {
        io.complain(text("The options \"--yes\" and \"--purge\" do not go with \"--verify\"."));
        return UsageError;
    }
    if (!verifying && showAdded) {
        io.complain(text("The option \"--added\" goes with \"--verify\"."));
        return UsageError;
    }
    if (directory.empty())
        directory = ownDirectory();
    return verifying ? verify(io, directory, showAdded) : uninstall(io, directory, options);
}
