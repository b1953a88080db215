#include "util/processumask.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The "Umask:" line of /proc/self/status (Linux 4.7 and later); false when
// the line is missing.
bool readStatusUmask(mode_t *mask)
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    ssize_t length = 0;
    ssize_t n;
    while (length < ssize_t(sizeof buffer) - 1
           && (n = ::read(fd, buffer + length, sizeof buffer - 1 - length)) > 0)
        length += n;
    ::close(fd);
    buffer[length] = '\0';

    static const char key[] = "\nUmask:";
    const char *line = std::strstr(buffer, key);
    if (!line)
        return false;
    char *end = nullptr;
    const unsigned long value = std::strtoul(line + sizeof key - 1, &end, 8);
    if (end == line + sizeof key - 1 || value > 0777)
        return false;
    *mask = mode_t(value);
    return true;
}

} // namespace

mode_t processUmask()
{
    mode_t mask;
    if (readStatusUmask(&mask))
        return mask;
    mask = ::umask(0);
    ::umask(mask);
    return mask;
}
