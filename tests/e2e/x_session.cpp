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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
        if (!id.empty())
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
