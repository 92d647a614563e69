#pragma once

// A private X server (Xvfb) for end-to-end tests, the program under test
// started on it, and xdotool to find and drive its windows.

#include <QImage>
#include <QRect>

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

// Starts Xvfb, which takes a free display and reports it (-displayfd), and
// sets DISPLAY to it once the server takes connections; stops it at the end.
class XServer {
public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    // Whether the server started; alive() also checks that it still runs.
    bool running() const { return m_pid > 0; }
    bool alive();
    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

// A Wayland compositor that offers an X server too (Xwayland), as a desktop
// session runs it: started with a command of its own, which reports the
// session's DISPLAY, WAYLAND_DISPLAY and XAUTHORITY and keeps the session open until
// this ends. Sets them here once they are known.
class CompositorSession {
public:
    // `compositor` runs the command given after "--" inside its session, as
    // mutter does; what it prints goes to `log`.
    CompositorSession(const std::vector<std::string>& compositor, const std::string& folder);
    ~CompositorSession();
    CompositorSession(const CompositorSession&) = delete;
    CompositorSession& operator=(const CompositorSession&) = delete;
    bool running() const { return m_pid > 0; }
    // Why it did not start, with the end of what the compositor said.
    const std::string& failure() const { return m_failure; }

private:
    void stop();
    pid_t m_pid = -1;
    std::string m_stop;
    std::string m_failure;
};

class Program {
public:
    // Starts the program; with `tracePath`, under strace, which logs into it
    // what the program does to files and sockets.
    explicit Program(const std::string& path, const std::string& tracePath = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    // Waits for the program to end; its exit status, or -1 if it is still
    // running after `ms`, or ended by a signal.
    int waitForExit(int ms);
    bool running();

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

// Runs a command and returns what it printed on standard output.
std::string run(const std::string& command);

// The program's visible windows whose name matches, by xdotool. Windows of
// other clients named alike are not counted: mutter from 44 on draws the
// title bars of X11 windows as windows of a client of its own
// (mutter-x11-frames), each named as the window it frames.
std::vector<std::string> visibleWindows(const std::string& name);
QRect geometry(const std::string& window);
std::string windowName(const std::string& window);
// Waits until `count` visible windows match `name`.
bool waitForWindows(const std::string& name, size_t count, int ms);

QImage screenshot();
// What a window shows, read from the X server by the window itself: under
// Xwayland the root window holds no picture of the windows on it.
QImage windowImage(const std::string& window);
// Takes screenshots until `ready` holds for one, or `ms` have passed; returns
// the last one taken.
QImage screenshotWhen(const std::function<bool(const QImage&)>& ready, int ms);
// A window's text property (WM_NAME, _NET_WM_NAME...) as xprop shows it in a
// UTF-8 locale: `NAME(TYPE) = "value"`.
std::string windowProperty(const std::string& window, const std::string& property);
void click(int x, int y);
void pause(int ms);

} // namespace e2e
