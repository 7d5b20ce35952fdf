// Times start-up, from the process start to its main window mapped on the X server, for the
// program and for a bare Qt window (bare_window), in alternating rounds of one run. Needs an X
// server without a window manager, such as `Xvfb :73 & DISPLAY=:73 bench_startup`. Prints
// figures; asserts nothing.

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int WarmUpRounds = 3;
constexpr int Rounds = 21;
constexpr int TimeoutMs = 20000;

using Clock = std::chrono::steady_clock;

struct Contender
{
    const char *label;
    std::string program;
    std::string folder; ///< the working directory it starts in
    std::vector<double> timesMs;
};

std::string folderOf(const std::string &path)
{
    return path.substr(0, path.rfind('/'));
}

// Drops the events of earlier rounds, such as the last window's unmap.
void drain(xcb_connection_t *connection)
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(connection))
        std::free(event);
}

// Waits for a top-level window to be mapped; false on a timeout or a lost connection.
bool waitForMap(xcb_connection_t *connection, Clock::time_point deadline)
{
    const int fd = xcb_get_file_descriptor(connection);
    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(event);
            if (mapped)
                return true;
        }
        if (xcb_connection_has_error(connection))
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd wait { fd, POLLIN, 0 };
        if (::poll(&wait, 1, int(left)) < 0 && errno != EINTR)
            return false;
    }
}

// One start: the time in milliseconds until the window was mapped, or nothing on failure.
std::optional<double> startOnce(xcb_connection_t *connection, const Contender &contender)
{
    drain(connection);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, contender.folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char *argv[] = { const_cast<char *>(contender.program.c_str()), nullptr };

    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(error));
        return std::nullopt;
    }
    const bool mapped = waitForMap(connection, start + std::chrono::milliseconds(TimeoutMs));
    const Clock::time_point end = Clock::now();
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!mapped) {
        std::fprintf(stderr, "%s mapped no window\n", argv[0]);
        return std::nullopt;
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X server: start one without a window manager, e.g. Xvfb :73 & DISPLAY=:73 %s\n",
            "bench_startup");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // A window manager would reparent and delay the windows: selecting the redirect that it holds
    // fails while one runs. Released at once, so that the windows map on their own.
    const uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    if (xcb_generic_error_t *busy = xcb_request_check(
            connection, xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &redirect))) {
        std::free(busy);
        std::fprintf(stderr, "a window manager runs on this display; use an X server without one\n");
        return 1;
    }
    const uint32_t notify = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &notify);
    xcb_flush(connection);

    // Qt wants a runtime folder; without one it warns on every start.
    char runtime[] = "/tmp/bench_startup-XXXXXX";
    if (!std::getenv("XDG_RUNTIME_DIR") && ::mkdtemp(runtime))
        ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);

    Contender contenders[] = {
        { "program", OMBRIX_PROGRAM, folderOf(OMBRIX_PROGRAM), {} },
        { "bare Qt window", BARE_WINDOW, folderOf(BARE_WINDOW), {} },
    };
    // Warm-up rounds fill the page and font caches; alternating rounds share any drift of the machine.
    for (int round = 0; round < WarmUpRounds + Rounds; ++round) {
        for (Contender &contender : contenders) {
            const std::optional<double> ms = startOnce(connection, contender);
            if (!ms)
                return 2;
            if (round >= WarmUpRounds)
                contender.timesMs.push_back(*ms);
        }
    }
    if (runtime[std::strlen(runtime) - 1] != 'X')
        ::rmdir(runtime);

    std::printf("start to main window mapped, median of %d rounds (no window manager)\n", Rounds);
#ifndef NDEBUG
    std::printf("(a debug build: the program's own code runs unoptimised, Qt's does not)\n");
#endif
    for (const Contender &contender : contenders) {
        const auto [low, high] = std::minmax_element(contender.timesMs.begin(), contender.timesMs.end());
        std::printf("%-16s %8.2f ms (range %.2f-%.2f)\n", contender.label, median(contender.timesMs), *low, *high);
    }
    std::printf("program / bare:  %8.2f\n", median(contenders[0].timesMs) / median(contenders[1].timesMs));
    xcb_disconnect(connection);
    return 0;
}
