// Starts the real installer program several times on the X display of
// DISPLAY and measures, from the moment it is started, when its first
// top-level window is mapped and when that window's content is painted
// (the window stops being one plain colour).
//
//   zarvo_firstpaint RUNS PROGRAM SOURCE_DIR
//
// The program runs with SOURCE_DIR as its working directory, where it finds
// its installation files; each run is ended once its page is painted.

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Timing
{
    double mapped = -1;
    double painted = -1;
};

// True when the window shows more than a few distinct colours.
bool isPainted(xcb_connection_t *connection, xcb_window_t window)
{
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr),
        &std::free);
    if (!geometry)
        return false;
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
        xcb_get_image_reply(connection,
                            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                          geometry->width, geometry->height, ~0u),
                            nullptr),
        &std::free);
    if (!image)
        return false;
    const uint8_t *data = xcb_get_image_data(image.get());
    const int length = xcb_get_image_data_length(image.get());
    std::set<uint32_t> colours;
    for (int i = 0; i + 4 <= length && colours.size() < 8; i += 4 * 97)
        colours.insert(uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16);
    return colours.size() >= 8;
}

Timing measureOnce(const char *program, const char *sourceDir)
{
    Timing timing;
    // The server resets when its last client leaves and refuses connections
    // for a moment meanwhile.
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    for (int attempt = 0; xcb_connection_has_error(connection) && attempt < 50; ++attempt) {
        xcb_disconnect(connection);
        usleep(100000);
        connection = xcb_connect(nullptr, nullptr);
    }
    if (const int error = xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "zarvo_firstpaint: cannot connect to the display \"%s\" (xcb error %d)\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "", error);
        std::exit(1);
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    const double start = now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(sourceDir) != 0)
            _exit(126);
        execl(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    xcb_window_t window = XCB_NONE;
    const double deadline = start + 20;
    while (now() < deadline && timing.painted < 0) {
        if (window == XCB_NONE) {
            xcb_generic_event_t *event = xcb_poll_for_event(connection);
            if (!event) {
                usleep(500);
                continue;
            }
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                window = reinterpret_cast<xcb_map_notify_event_t *>(event)->window;
                timing.mapped = now() - start;
            }
            std::free(event);
            continue;
        }
        if (isPainted(connection, window))
            timing.painted = now() - start;
        else
            usleep(1000);
    }
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    xcb_disconnect(connection);
    return timing;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: zarvo_firstpaint RUNS PROGRAM SOURCE_DIR\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    std::vector<double> mapped, painted;
    for (int i = 0; i < runs; ++i) {
        const Timing timing = measureOnce(argv[2], argv[3]);
        if (timing.painted < 0) {
            std::fprintf(stderr, "zarvo_firstpaint: no painted window within 20 s\n");
            return 1;
        }
        mapped.push_back(timing.mapped * 1000);
        painted.push_back(timing.painted * 1000);
    }
    std::printf("wizard window mapped:  median %4.0f ms (%.0f-%.0f)\n", median(mapped),
                *std::min_element(mapped.begin(), mapped.end()),
                *std::max_element(mapped.begin(), mapped.end()));
    std::printf("first page painted:    median %4.0f ms (%.0f-%.0f), %d starts\n", median(painted),
                *std::min_element(painted.begin(), painted.end()),
                *std::max_element(painted.begin(), painted.end()), runs);
    return 0;
}
