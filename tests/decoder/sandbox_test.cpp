// What a decoder taken over by a crafted file would try, each from a child
// process confined by the helper's own decoder::confine(): every way out must
// fail, and what decoding needs must still work.
//
// ORBITALE_SANDBOX_TEST_UNCONFINED=1 runs the same children without the
// confinement (only this test reads it): every "refused" case must then fail,
// which shows that each one tries something that works unconfined.

#include "decoder/sandbox.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What the children aim at, made once by the test process: files in a
// folder of its own, and a TCP and a Unix socket listening.
struct Scene {
    fs::path folder;
    fs::path secret;   // a file the user can read
    fs::path existing; // a file with something in it
    fs::path socketPath;
    int tcpPort = 0;
    pid_t parent = 0;
    int tcp = -1;
    int unixSocket = -1;

    Scene() {
        std::string pattern = (fs::temp_directory_path() / "orbitale-sandbox-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        secret = folder / "secret";
        existing = folder / "existing";
        std::ofstream(secret) << "private key\n";
        std::ofstream(existing) << "kept\n";
        fs::permissions(secret, fs::perms(0644));
        parent = ::getpid();

        tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof in;
        ::bind(tcp, reinterpret_cast<sockaddr*>(&in), sizeof in);
        ::listen(tcp, 8);
        ::getsockname(tcp, reinterpret_cast<sockaddr*>(&in), &size);
        tcpPort = ntohs(in.sin_port);

        socketPath = folder / "bus";
        unixSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un un = unixAddress();
        ::bind(unixSocket, reinterpret_cast<const sockaddr*>(&un), sizeof un);
        ::listen(unixSocket, 8);
    }
    ~Scene() {
        ::close(tcp);
        ::close(unixSocket);
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    sockaddr_un unixAddress() const {
        sockaddr_un un{};
        un.sun_family = AF_UNIX;
        socketPath.string().copy(un.sun_path, sizeof un.sun_path - 1);
        return un;
    }
};

bool connects(int domain, const sockaddr* to, socklen_t size) {
    const int s = ::socket(domain, SOCK_STREAM, 0);
    return s >= 0 && ::connect(s, to, size) == 0;
}

struct Case {
    std::string name;
    bool allowed; // what decoding needs; the rest is what a taken-over decoder tries
    std::function<bool(const Scene&)> act; // true if it did what it tried
};

const std::vector<Case> cases = {
    {"ReadAFileTheUserCanRead", false,
     [](const Scene& s) {
         char c;
         const int fd = ::open(s.secret.c_str(), O_RDONLY);
         return fd >= 0 && ::read(fd, &c, 1) == 1;
     }},
    {"CreateAFile", false,
     [](const Scene& s) {
         return ::open((s.folder / "new").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600) >= 0;
     }},
    {"EmptyAFileWithTrunc", false,
     [](const Scene& s) { return ::open(s.existing.c_str(), O_WRONLY | O_TRUNC) >= 0; }},
    {"CreateADirectory", false,
     [](const Scene& s) { return ::mkdir((s.folder / "dir").c_str(), 0700) == 0; }},
    {"ConnectToTcpOnLoopback", false,
     [](const Scene& s) {
         sockaddr_in in{};
         in.sin_family = AF_INET;
         in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
         in.sin_port = htons(static_cast<std::uint16_t>(s.tcpPort));
         return connects(AF_INET, reinterpret_cast<const sockaddr*>(&in), sizeof in);
     }},
    {"ConnectToAUnixSocket", false,
     [](const Scene& s) {
         const sockaddr_un un = s.unixAddress();
         return connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&un), sizeof un);
     }},
    {"RunAProgram", false,
     [](const Scene&) {
         // Returns only when refused; /bin/true reports success otherwise.
         ::execl("/bin/true", "true", static_cast<char*>(nullptr));
         return false;
     }},
    {"StartAProcess", false,
     [](const Scene&) {
         const pid_t child = ::fork();
         if (child == 0)
             ::_exit(0);
         return child > 0 && ::waitpid(child, nullptr, 0) == child;
     }},
    {"SignalTheProgram", false, [](const Scene& s) { return ::kill(s.parent, 0) == 0; }},
    {"TraceTheProgram", false,
     [](const Scene& s) { return ::ptrace(PTRACE_SEIZE, s.parent, nullptr, nullptr) == 0; }},

    {"StartAThreadAndJoinIt", true,
     [](const Scene&) {
         std::atomic<bool> ran = false;
         std::thread([&ran] { ran = true; }).join();
         return ran.load();
     }},
    {"TakeAndGiveBack100MiB", true,
     [](const Scene&) {
         std::vector<unsigned char> block(100u << 20, 1);
         return block[block.size() / 2] == 1;
     }},
    {"ReadStandardInput", true,
     [](const Scene&) {
         char bytes[16];
         return ::read(STDIN_FILENO, bytes, sizeof bytes) == 7;
     }},
    // Not even whether a file exists, or how large it is.
    {"LookAtAFile", false,
     [](const Scene&) {
         struct stat info {};
         return ::syscall(SYS_newfstatat, STDIN_FILENO, "/etc/passwd", &info, 0) == 0;
     }},
    {"WriteStandardOutput", true,
     [](const Scene&) { return ::write(STDOUT_FILENO, "frame", 5) == 5; }},
};

// A failing case names itself, not its bytes.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// Exit statuses of a child.
constexpr int did = 0, refused = 1, notConfined = 3;

// Runs one case in a child with "picture" waiting on its standard input and a
// pipe on its standard output, confined as the helper is.
int tryInChild(const Case& c, const Scene& scene) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::write(in[1], "picture", 7) != 7)
        return -1;
    ::close(in[1]);
    const bool confined = std::getenv("ORBITALE_SANDBOX_TEST_UNCONFINED") == nullptr;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::close_range(3, ~0u, 0);
        if (confined && !decoder::confine())
            ::_exit(notConfined);
        // _exit: no exit handlers, as a taken-over decoder would not run them.
        ::_exit(c.act(scene) ? did : refused);
    }
    ::close(in[0]);
    ::close(out[1]);
    char drain[64];
    while (::read(out[0], drain, sizeof drain) > 0) {
    }
    ::close(out[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class Confinement : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { scene = std::make_unique<Scene>(); }
    static void TearDownTestSuite() { scene.reset(); }
    static std::unique_ptr<Scene> scene;
};
std::unique_ptr<Scene> Confinement::scene;

TEST_P(Confinement, DoesWhatDecodingNeedsAndNothingElse) {
    const Case& c = GetParam();
    EXPECT_EQ(tryInChild(c, *scene), c.allowed ? did : refused);
}

INSTANTIATE_TEST_SUITE_P(Helper, Confinement, ::testing::ValuesIn(cases),
                         [](const auto& info) { return info.param.name; });

} // namespace
