#include "x_session.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <xcb/xcb.h>

extern char** environ;

namespace e2e {

namespace {

// Reads what Xvfb writes on its display descriptor: its display number and a
// newline once it takes connections. Empty if it ends first, or if nothing
// comes within `ms`.
std::string readDisplayNumber(int fd, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::string number;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return {};
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return {};
        char c;
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return {}; // it ended without a display
        if (c == '\n')
            return number;
        if (c < '0' || c > '9' || number.size() > 6)
            return {};
        number += c;
    }
}

} // namespace

XServer::XServer() {
    // Xvfb takes the first free display itself and says which on a pipe once
    // it takes connections: no display is guessed, and no other server can be
    // mistaken for ours.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    // Its end of the pipe as a descriptor number no other use here has.
    const int childFd = ::fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 10);
    ::close(pipeFds[1]);
    if (childFd < 0) {
        ::close(pipeFds[0]);
        return;
    }
    const std::string fdText = std::to_string(childFd);
    const char* argv[] = {"Xvfb",        "-displayfd", fdText.c_str(), "-screen",  "0",
                          "1024x768x24", "-nolisten",  "tcp",          "-noreset", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // A descriptor duplicated onto itself loses its close-on-exec flag.
    posix_spawn_file_actions_adddup2(&actions, childFd, childFd);
    pid_t pid = -1;
    const int failed =
        posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(childFd);
    if (failed) {
        ::close(pipeFds[0]);
        return;
    }
    const std::string number = readDisplayNumber(pipeFds[0], 30000);
    ::close(pipeFds[0]);
    m_pid = pid;
    if (number.empty() || !alive()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        m_pid = -1;
        return;
    }
    m_display = ":" + number;
    ::setenv("DISPLAY", m_display.c_str(), 1);
}

bool XServer::alive() {
    return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0;
}

XServer::~XServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

namespace {

// X servers put their sockets in /tmp/.X11-unix, which a booted system keeps
// writable by all with the sticky bit (systemd-tmpfiles); an X server that
// made it under a umask leaves it 1755, and mutter then starts no Xwayland.
void ensureX11SocketFolder() {
    const char* folder = "/tmp/.X11-unix";
    struct stat st {};
    if (::stat(folder, &st) != 0 && ::mkdir(folder, 01777) != 0)
        return;
    if (::stat(folder, &st) == 0 && (st.st_mode & 07777) != 01777 && st.st_uid == ::geteuid())
        ::chmod(folder, 01777);
}

std::string lastLines(const std::string& file, int lines) {
    return run("tail -n " + std::to_string(lines) + " '" + file + "' 2>/dev/null");
}

} // namespace

CompositorSession::CompositorSession(const std::vector<std::string>& compositor,
                                     const std::string& folder) {
    ensureX11SocketFolder();
    const std::string report = folder + "/session";
    const std::string log = folder + "/compositor.log";
    m_stop = folder + "/stop";
    ::unlink(report.c_str());
    ::unlink(m_stop.c_str());
    // The session lasts as long as its command: until we ask it to end, or
    // end ourselves.
    const std::string reporter =
        "printf '%s %s %s\\n' \"$DISPLAY\" \"$WAYLAND_DISPLAY\" \"$XAUTHORITY\" > '" + report +
        ".new' && mv '" + report + ".new' '" + report + "'; while [ ! -e '" + m_stop +
        "' ] && kill -0 " + std::to_string(::getpid()) + " 2>/dev/null; do sleep 0.2; done";
    std::vector<const char*> argv;
    for (const std::string& a : compositor)
        argv.push_back(a.c_str());
    for (const char* a : {"--", "sh", "-c"})
        argv.push_back(a);
    argv.push_back(reporter.c_str());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int failed =
        posix_spawnp(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) {
        m_pid = -1;
        m_failure = compositor[0] + " could not be started";
        return;
    }
    std::string x11, wayland, authority;
    for (int waited = 0; waited < 30000 && x11.empty(); waited += 100) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        std::istringstream(run("cat '" + report + "' 2>/dev/null")) >> x11 >> wayland >> authority;
        if (x11.empty())
            pause(100);
    }
    if (x11.empty() || wayland.empty()) {
        m_failure = compositor[0] + " offered no Wayland display with an X server; it said:\n" +
                    lastLines(log, 8);
        stop();
        return;
    }
    ::setenv("DISPLAY", x11.c_str(), 1);
    ::setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
    // Xwayland lets in only those holding the session's cookie.
    if (!authority.empty())
        ::setenv("XAUTHORITY", authority.c_str(), 1);
}

CompositorSession::~CompositorSession() {
    stop();
}

void CompositorSession::stop() {
    if (m_pid <= 0)
        return;
    const pid_t pid = std::exchange(m_pid, -1);
    // Ending its command ends the session; a compositor that hangs is ended.
    ::close(::open(m_stop.c_str(), O_WRONLY | O_CREAT, 0644));
    for (int waited = 0; waited < 5000; waited += 50) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        pause(50);
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

Program::Program(const std::string& path, const std::string& tracePath) {
    std::vector<const char*> argv;
    if (!tracePath.empty())
        argv = {"strace",
                "-f",
                "-qq",
                "-o",
                tracePath.c_str(),
                "-e",
                "trace=openat,open,creat,mkdir,mkdirat,rename,renameat,renameat2,unlink,unlinkat,"
                "truncate,connect,bind,sendto",
                path.c_str(),
                nullptr};
    else
        argv = {path.c_str(), nullptr};
    if (posix_spawnp(&m_pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ) !=
        0)
        m_pid = -1;
}

Program::~Program() {
    if (running()) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

bool Program::running() {
    if (m_pid <= 0 || m_status != -1)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
        return false;
    }
    return true;
}

int Program::waitForExit(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running() && std::chrono::steady_clock::now() < end)
        pause(20);
    return running() || m_status == 1000 ? -1 : m_status;
}

std::string run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string out;
    if (!pipe)
        return out;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
        out.append(buffer.data(), n);
    return out;
}

std::vector<std::string> visibleWindows(const std::string& name) {
    std::istringstream lines(run("xdotool search --onlyvisible --name '" + name + "' 2>/dev/null"));
    std::vector<std::string> ids;
    for (std::string id; std::getline(lines, id);)
        if (!id.empty() && windowProperty(id, "WM_CLASS").find("\"orbitale\"") != std::string::npos)
            ids.push_back(id);
    return ids;
}

QRect geometry(const std::string& window) {
    std::istringstream out(run("xdotool getwindowgeometry --shell " + window));
    int x = 0, y = 0, w = 0, h = 0;
    for (std::string line; std::getline(out, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const int value = std::atoi(line.c_str() + eq + 1);
        if (key == "X")
            x = value;
        else if (key == "Y")
            y = value;
        else if (key == "WIDTH")
            w = value;
        else if (key == "HEIGHT")
            h = value;
    }
    return {x, y, w, h};
}

std::string windowName(const std::string& window) {
    std::string name = run("xdotool getwindowname " + window);
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

bool waitForWindows(const std::string& name, size_t count, int ms) {
    for (int waited = 0; waited <= ms; waited += 50) {
        if (visibleWindows(name).size() == count)
            return true;
        pause(50);
    }
    return false;
}

QImage screenshot() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
}

QImage windowImage(const std::string& window) {
    const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> x(
        xcb_connect(nullptr, nullptr), xcb_disconnect);
    if (xcb_connection_has_error(x.get()))
        return {};
    const auto id = static_cast<xcb_window_t>(std::stoul(window, nullptr, 0));
    const std::unique_ptr<xcb_get_geometry_reply_t, void (*)(void*)> shape(
        xcb_get_geometry_reply(x.get(), xcb_get_geometry(x.get(), id), nullptr), std::free);
    if (!shape)
        return {};
    const std::unique_ptr<xcb_get_image_reply_t, void (*)(void*)> image(
        xcb_get_image_reply(x.get(),
                            xcb_get_image(x.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, id, 0, 0,
                                          shape->width, shape->height, ~0u),
                            nullptr),
        std::free);
    const int w = shape->width, h = shape->height;
    // Depth 24 and 32 both come as 32-bit words, blue in the low byte.
    if (!image || xcb_get_image_data_length(image.get()) != w * h * 4)
        return {};
    return QImage(xcb_get_image_data(image.get()), w, h, w * 4, QImage::Format_RGB32).copy();
}

QImage screenshotWhen(const std::function<bool(const QImage&)>& ready, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        QImage shot = screenshot();
        if (ready(shot) || std::chrono::steady_clock::now() >= end)
            return shot;
        pause(50);
    }
}

std::string windowProperty(const std::string& window, const std::string& property) {
    std::string line = run("LC_ALL=C.UTF-8 xprop -id " + window + " " + property);
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

void click(int x, int y) {
    run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace e2e
