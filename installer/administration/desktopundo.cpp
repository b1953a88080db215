#include "installer/administration/desktopundo.h"

#include "installer/administration/installedtree.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace Administration {

namespace {

const int timeLimitSeconds = 180;
const int notStarted = -2;
const int stopped = -1;

// Runs `program` (looked up on PATH without a slash) with `arguments` in a
// process group of its own, so that the time limit stops whatever it started
// too. Its exit status, notStarted (errno set) or stopped.
int runTool(const std::string &program, const std::vector<std::string> &arguments,
            const std::string &mode)
{
    std::vector<std::string> environment;
    for (char **variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "XDG_UTILS_INSTALL_MODE=", 23) != 0)
            environment.push_back(*variable);
    }
    environment.push_back("XDG_UTILS_INSTALL_MODE=" + mode);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &variable : environment)
        envp.push_back(&variable[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(),
                                   envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return notStarted;
    }
    const time_t deadline = std::time(nullptr) + timeLimitSeconds;
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR)
            return stopped;
        if (std::time(nullptr) > deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return stopped;
        }
        const timespec pause{0, 20 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : stopped;
}

std::string baseName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The N of an icon installed from ".../NxN/name.png".
std::string iconSize(const std::string &file)
{
    const size_t slash = file.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string()
                                                             : baseName(file.substr(0, slash));
    const size_t x = directory.find('x');
    if (x == std::string::npos || x == 0 || directory.find_first_not_of("0123456789") != x
        || directory.compare(0, x, directory, x + 1, std::string::npos) != 0)
        return std::string();
    return directory.substr(0, x);
}

// xdg-mime insists on reading the package it removes, which the
// installation deleted after handing it over; the tool goes by its name.
class StandInPackage
{
public:
    explicit StandInPackage(const std::string &name)
    {
        const char *temporary = std::getenv("TMPDIR");
        std::string pattern = std::string(temporary && *temporary ? temporary : "/tmp")
            + "/zarvo-uninstall-XXXXXX";
        if (!::mkdtemp(&pattern[0]))
            return;
        m_directory = pattern;
        const std::string path = m_directory + '/' + name;
        static const char package[] =
            "<?xml version=\"1.0\"?>\n"
            "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\"/>\n";
        const Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (file.isValid() && ::write(file.get(), package, sizeof package - 1) == sizeof package - 1)
            m_path = path;
    }
    ~StandInPackage()
    {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
        if (!m_directory.empty())
            ::rmdir(m_directory.c_str());
    }
    const std::string &path() const { return m_path; }

private:
    std::string m_directory;
    std::string m_path;
};

} // namespace

bool undoRegistration(const Registration &registration, const std::string &installation,
                      Text *problem)
{
    const std::string &tool = registration.tool;
    std::vector<std::string> arguments{"uninstall"};
    std::unique_ptr<StandInPackage> package;
    if (tool == "xdg-icon-resource") {
        const std::string size = iconSize(registration.file);
        if (size.empty()) {
            *problem = text("The size of the icon \"%1\" cannot be told from its path; it was "
                            "left registered.",
                            {registration.file});
            return false;
        }
        arguments.insert(arguments.end(), {"--size", size, registration.file});
    } else if (tool == "xdg-desktop-menu") {
        arguments.push_back(registration.file);
    } else if (tool == "xdg-mime") {
        package.reset(new StandInPackage(baseName(registration.file)));
        if (package->path().empty()) {
            *problem = text("Could not prepare the removal of the file association \"%1\": %2.",
                            {registration.file, systemError(errno)});
            return false;
        }
        arguments.push_back(package->path());
    } else {
        *problem = text("The registration by \"%1\" of \"%2\" is not known to this program; it "
                        "was left as it is.",
                        {tool, registration.file});
        return false;
    }
    // The installation's copy of the tool made the registration.
    const std::string own = installation + "/libexec/" + tool;
    const std::string program = ::access(own.c_str(), X_OK) == 0 ? own : tool;
    const int status = runTool(program, arguments, registration.mode);
    if (status == 0)
        return true;
    if (status == notStarted)
        *problem = text("%1 could not be started: %2.", {program, systemError(errno)});
    else if (status == stopped)
        *problem = text("%1 did not finish within %2 seconds, or crashed, and was stopped.",
                        {program, std::to_string(timeLimitSeconds)});
    else
        *problem = text("%1 exited with status %2.", {program, std::to_string(status)});
    return false;
}

} // namespace Administration
