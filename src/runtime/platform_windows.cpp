// What depends on Windows: where the installation is, where the user's own
// pictures go, and how a picture file is opened and handed to the decoding
// helper, which runs under a locked-down token at low integrity, with the
// loader's mitigations on, in a job of its own that bounds its memory and
// processor time and lets it start nothing.

#include "runtime/platform.h"

#include "decoder/budget.h"
#include "runtime/drives.h"
#include "runtime/win32/helper_token.h"
#include "runtime/win32/unicode.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace rt {

namespace {

using detail::Handle;
using detail::utf8;
using detail::wide;

ErrorNumber errorForSystem(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_FILENAME_EXCED_RANGE:
        return ErrorNumber::FileNotFound;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ErrorNumber::OutOfMemory;
    default:
        return ErrorNumber::FileAccess;
    }
}

} // namespace

std::string executablePrefix() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return utf8(path.substr(0, path.find_last_of(L"\\/")));
}

const char* const installedDrives = "drives";
const char folderSeparator = '\\';

bool isAbsolutePath(std::string_view path) {
    const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    const bool share = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
    return drive || share;
}

// Where Windows programs keep a user's own data on this machine.
std::string userDrivesFolder() {
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (n == 0)
        return {};
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), n));
    const std::string folder = utf8(value);
    return isAbsolutePath(folder) ? folder + "\\Orbitale\\drives" : std::string{};
}

Look lookAt(const std::string& path) {
    if (GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return Look::Something;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Look::Nothing
                                                                          : Look::Unreachable;
}

std::string decoderPath() {
    static const std::string path = executablePrefix() + "\\orbitale-decode.exe";
    return path;
}

namespace {

// Opens only a file on a disk: a folder, a device ("CON") or a pipe at the
// picture's path could block or never end.
HANDLE openPicture(const std::string& where, const FileError& fail) {
    if (where.empty())
        fail.raise(ErrorNumber::FileNotFound);
    const std::wstring path = wide(where);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail.raise(errorForSystem(GetLastError()));
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        fail.raise(ErrorNumber::FileAccess);
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    Handle file(CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.get())
        fail.raise(errorForSystem(GetLastError()));
    LARGE_INTEGER size{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size))
        fail.raise(ErrorNumber::FileAccess);
    if (static_cast<std::uint64_t>(size.QuadPart) > decoder::pictureLimits.fileBytes)
        fail.raise(ErrorNumber::OutOfMemory);
    // A file that cannot be read is the file's fault, not the decoder's.
    char probe = 0;
    DWORD got = 0;
    OVERLAPPED at{};
    if (size.QuadPart > 0 && !ReadFile(file.get(), &probe, 1, &got, &at))
        fail.raise(errorForSystem(GetLastError()));
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    return file.release();
}

// A process's attribute list, holding what this Windows accepts of what it
// is given.
class AttributeList {
public:
    explicit AttributeList(DWORD most) {
        SIZE_T bytes = 0;
        InitializeProcThreadAttributeList(nullptr, most, 0, &bytes);
        m_bytes.resize(bytes);
        if (InitializeProcThreadAttributeList(list(), most, 0, &bytes))
            m_ready = true;
    }
    ~AttributeList() {
        if (m_ready)
            DeleteProcThreadAttributeList(list());
    }
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;
    // The value must live as long as the list.
    void add(DWORD_PTR attribute, void* value, SIZE_T size) {
        if (m_ready &&
            UpdateProcThreadAttribute(list(), 0, attribute, value, size, nullptr, nullptr))
            m_any = true;
    }
    LPPROC_THREAD_ATTRIBUTE_LIST get() { return m_any ? list() : nullptr; }

private:
    LPPROC_THREAD_ATTRIBUTE_LIST list() {
        return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_bytes.data());
    }
    std::vector<char> m_bytes;
    bool m_ready = false;
    bool m_any = false;
};

[[noreturn]] void cannotStart(const char* what, DWORD error, const FileError& fail) {
    std::fprintf(stderr, "Orbitale: cannot start the decoding helper (%s): error %lu\n", what,
                 static_cast<unsigned long>(error));
    fail.raise(ErrorNumber::Internal);
}

class Helper final : public DecoderRun {
public:
    Helper(const std::string& where, const FileError& fail)
        : m_file(openPicture(where, fail)) {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        // A photo's kept frame is some 12 MB: it crosses in pieces of a
        // megabyte rather than of a few pages.
        if (!CreatePipe(&read, &write, &inherited, 1 << 20))
            fail.raise(ErrorNumber::OutOfMemory);
        m_read.reset(read);
        Handle output(write);
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        Handle nul(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherited, OPEN_EXISTING, 0, nullptr));

        // The helper gets the picture, the pipe and nowhere to write its
        // errors, and no other handle of the program's; it may start no
        // process, and the system loads no image for it from a share or a
        // low-integrity folder and none of the desktop's extension DLLs.
        HANDLE handed[] = {m_file.get(), output.get(), nul.get()};
        DWORD64 mitigations = PROCESS_CREATION_MITIGATION_POLICY_IMAGE_LOAD_NO_REMOTE_ALWAYS_ON |
                              PROCESS_CREATION_MITIGATION_POLICY_IMAGE_LOAD_NO_LOW_LABEL_ALWAYS_ON |
                              PROCESS_CREATION_MITIGATION_POLICY_EXTENSION_POINT_DISABLE_ALWAYS_ON;
        DWORD children = PROCESS_CREATION_CHILD_PROCESS_RESTRICTED;
        AttributeList attributes(3);
        attributes.add(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed,
                       nul.get() ? sizeof handed : sizeof handed - sizeof(HANDLE));
        // What an older Windows does not know, it is not asked: the job
        // keeps the helper to one process all the same.
        attributes.add(PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY, &mitigations, sizeof mitigations);
        attributes.add(PROC_THREAD_ATTRIBUTE_CHILD_PROCESS_POLICY, &children, sizeof children);
        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = m_file.get();
        startup.StartupInfo.hStdOutput = output.get();
        startup.StartupInfo.hStdError = nul.get();
        startup.lpAttributeList = attributes.get();

        const detail::HelperTokens tokens = detail::helperTokens();
        if (!tokens.lockdown.get() || !tokens.initial.get())
            cannotStart("its tokens", GetLastError(), fail);
        const std::wstring path = wide(decoderPath());
        std::wstring command = L"\"" + path + L"\"";
        PROCESS_INFORMATION process{};
        const DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                            (attributes.get() ? EXTENDED_STARTUPINFO_PRESENT : 0);
        // Wine fails about one start in two thousand with a token given
        // (ERROR_INTERNAL_ERROR), and the next one goes; so may a Windows
        // whose virus scanner holds the file a moment. A picture is not
        // refused for that.
        bool started = false;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            if (attempt > 0)
                Sleep(10);
            started = CreateProcessAsUserW(tokens.lockdown.get(), path.c_str(), command.data(),
                                           nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                           &startup.StartupInfo, &process) != FALSE;
        }
        if (!started)
            cannotStart(decoderPath().c_str(), GetLastError(), fail);
        m_process.reset(process.hProcess);
        Handle thread(process.hThread);
        // Into its job, and its first thread lent the initial token, before
        // it runs a single instruction of its own.
        m_job.reset(CreateJobObjectW(nullptr, nullptr));
        HANDLE first = thread.get();
        if (!m_job.get() || !limit(m_job.get()) ||
            !AssignProcessToJobObject(m_job.get(), m_process.get()) ||
            !SetThreadToken(&first, tokens.initial.get())) {
            const DWORD error = GetLastError();
            finish(true);
            cannotStart("its job", error, fail);
        }
        ResumeThread(thread.get());
    }
    ~Helper() override { finish(true); }

    bool read(void* to, std::size_t size, std::chrono::steady_clock::time_point until) override {
        auto* p = static_cast<char*>(to);
        while (size > 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= until)
                return false;
            if (!withinCpu(now))
                return false;
            DWORD waiting = 0;
            // Fails once the helper has ended and the pipe is empty.
            if (!PeekNamedPipe(m_read.get(), nullptr, 0, nullptr, &waiting, nullptr))
                return false;
            if (waiting == 0) {
                Sleep(1);
                continue;
            }
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>({size, waiting, 1u << 30}));
            if (!ReadFile(m_read.get(), p, want, &got, nullptr) || got == 0)
                return false;
            p += got;
            size -= got;
        }
        return true;
    }

    void finish(bool kill) override {
        if (!m_process.get())
            return;
        if (kill)
            TerminateProcess(m_process.get(), 1);
        WaitForSingleObject(m_process.get(), INFINITE);
        m_process.reset();
        m_job.reset();
    }

private:
    // What the job lets the helper have: its memory, ten seconds of
    // processor time as the backstop, no second process, nothing of the
    // desktop; and it ends with the program.
    static bool limit(HANDLE job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_PROCESS_TIME |
            JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
            JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
        limits.BasicLimitInformation.PerProcessUserTimeLimit.QuadPart = 10LL * 10'000'000;
        limits.BasicLimitInformation.ActiveProcessLimit = 1;
        limits.ProcessMemoryLimit = decoder::helperMemory;
        if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits))
            return false;
        JOBOBJECT_BASIC_UI_RESTRICTIONS ui{};
        ui.UIRestrictionsClass = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
                                 JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_GLOBALATOMS |
                                 JOB_OBJECT_UILIMIT_HANDLES | JOB_OBJECT_UILIMIT_READCLIPBOARD |
                                 JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS |
                                 JOB_OBJECT_UILIMIT_WRITECLIPBOARD;
        // Not every Windows (nor Wine) takes these; the limits above are what counts.
        SetInformationJobObject(job, JobObjectBasicUIRestrictions, &ui, sizeof ui);
        return true;
    }

    std::chrono::milliseconds cpuTime() const override {
        const auto used = [](HANDLE process) -> unsigned long long {
            FILETIME created, ended, kernel, user;
            if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
                return 0;
            const auto ticks = [](const FILETIME& t) {
                return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
            };
            return ticks(kernel) + ticks(user);
        };
        const unsigned long long before = used(GetCurrentProcess());
        const unsigned long long helper = used(m_process.get());
        const unsigned long long after = used(GetCurrentProcess());
        // Wine answers with the asking process's own times, whichever
        // process is asked about: those are not the helper's, and only the
        // clock can end it there.
        if (helper >= before && helper <= after)
            return {};
        return std::chrono::milliseconds(helper / 10'000);
    }

    Handle m_file;
    Handle m_read;
    Handle m_process;
    Handle m_job;
};

} // namespace

std::unique_ptr<DecoderRun> startDecoder(const std::string& where, const FileError& fail) {
    return std::make_unique<Helper>(where, fail);
}

} // namespace rt
