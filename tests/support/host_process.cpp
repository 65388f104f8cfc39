// host_process.cpp: starting pw_host.exe with pipes for its stdin and stdout, and reading its lines.
#include "tests/support/host_process.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

std::wstring hostExecutablePath()
{
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH - 1);
    std::wstring path = own;
    // build/tests/<suite>/x.exe -> build/tests/tools/pw_host.exe
    for (int up = 0; up < 2; up++) {
        size_t cut = path.find_last_of(L"\\/");
        if (cut == std::wstring::npos)
            return std::wstring();
        path.erase(cut);
    }
    return path + L"\\tools\\pw_host.exe";
}

static std::wstring quoted(const std::wstring &argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    for (wchar_t c : argument) {
        if (c == L'"')
            out += L'\\';
        out += c;
    }
    // A trailing backslash would escape the closing quote.
    if (!argument.empty() && argument.back() == L'\\')
        out += L'\\';
    return out + L"\"";
}

HostProcess::~HostProcess()
{
    end(3000);
}

bool HostProcess::start(const std::vector<std::wstring> &arguments, const std::wstring &workingFolder)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childInput = nullptr, childOutput = nullptr;
    if (!CreatePipe(&childInput, &input, &inherit, 0))
        return false;
    if (!CreatePipe(&output, &childOutput, &inherit, 0)) {
        CloseHandle(childInput);
        CloseHandle(input);
        input = nullptr;
        return false;
    }
    SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);

    std::wstring command = quoted(hostExecutablePath());
    for (const std::wstring &argument : arguments)
        command += L" " + quoted(argument);
    std::vector<wchar_t> commandLine(command.begin(), command.end());
    commandLine.push_back(0);

    // Only the three standard handles go to the child, not the test's sockets.
    HANDLE handles[3] = {childInput, childOutput, nul};
    SIZE_T attributeBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeBytes);
    std::vector<char> attributeMemory(attributeBytes ? attributeBytes : 1);
    LPPROC_THREAD_ATTRIBUTE_LIST attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeMemory.data());
    bool listed = attributeBytes && InitializeProcThreadAttributeList(attributes, 1, 0, &attributeBytes) &&
                  UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                            nul != INVALID_HANDLE_VALUE ? sizeof(handles) : 2 * sizeof(HANDLE),
                                            nullptr, nullptr);

    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = listed ? sizeof(startup) : sizeof(STARTUPINFOW);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childInput;
    startup.StartupInfo.hStdOutput = childOutput;
    startup.StartupInfo.hStdError = nul != INVALID_HANDLE_VALUE ? nul : childOutput;
    startup.lpAttributeList = listed ? attributes : nullptr;
    PROCESS_INFORMATION info = {};
    BOOL created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr,
                                  workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup.StartupInfo,
                                  &info);
    if (listed)
        DeleteProcThreadAttributeList(attributes);
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!created) {
        CloseHandle(input);
        CloseHandle(output);
        input = output = nullptr;
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    processId = info.dwProcessId;
    {
        std::lock_guard<std::mutex> hold(lock);
        lines.clear();
        nextLine = 0;
        finished = false;
    }
    reader = std::thread(&HostProcess::readAll, this);
    return true;
}

void HostProcess::readAll()
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(output, buffer, sizeof(buffer), &got, nullptr) || got == 0)
            break;
        pending.append(buffer, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            pending.erase(0, end + 1);
            std::lock_guard<std::mutex> hold(lock);
            lines.push_back(line);
            arrived.notify_all();
        }
    }
    std::lock_guard<std::mutex> hold(lock);
    if (!pending.empty())
        lines.push_back(pending);
    finished = true;
    arrived.notify_all();
}

bool HostProcess::send(const std::string &command)
{
    if (input == nullptr)
        return false;
    std::string line = command + "\n";
    DWORD written = 0;
    return WriteFile(input, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

bool HostProcess::readLine(std::string *line, int timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock);
    arrived.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                     [this] { return nextLine < lines.size() || finished; });
    if (nextLine >= lines.size())
        return false;
    *line = lines[nextLine++];
    return true;
}

bool HostProcess::waitFor(const std::string &prefix, int timeoutMs, std::string *line)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        std::string next;
        if (left <= 0 || !readLine(&next, left))
            return false;
        if (next.compare(0, prefix.size(), prefix) == 0) {
            if (line)
                *line = next;
            return true;
        }
    }
}

std::vector<std::string> HostProcess::history()
{
    std::lock_guard<std::mutex> hold(lock);
    return lines;
}

std::vector<std::string> HostProcess::drain()
{
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> out(lines.begin() + static_cast<long>(nextLine), lines.end());
    nextLine = lines.size();
    return out;
}

bool HostProcess::running()
{
    return process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

int HostProcess::end(int timeoutMs)
{
    if (process == nullptr)
        return -1;
    send("quit");
    if (WaitForSingleObject(process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process, &code);
    if (input) {
        CloseHandle(input);
        input = nullptr;
    }
    if (reader.joinable())
        reader.join();
    if (output) {
        CloseHandle(output);
        output = nullptr;
    }
    CloseHandle(process);
    process = nullptr;
    return static_cast<int>(code);
}

bool waitForSequence(HostProcess *host, const std::vector<std::string> &prefixes, int timeoutMs, std::string *why)
{
    for (const std::string &prefix : prefixes) {
        if (host->waitFor(prefix, timeoutMs))
            continue;
        std::string seen = "no \"" + prefix + "\" within " + std::to_string(timeoutMs) + " ms; last lines:";
        std::vector<std::string> lines = host->history();
        for (size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); i++)
            seen += "\n  " + lines[i];
        if (why)
            *why = seen;
        return false;
    }
    return true;
}

std::string quotedPath(const std::wstring &path)
{
    return "\"" + narrow(path) + "\"";
}

// Starts the host and reads up to its "READY <port>"; *port (when given) receives the port.
static bool startHostSide(HostProcess *host, const std::vector<std::wstring> &arguments, int *port,
                          std::string *why)
{
    if (!host->start(arguments)) {
        if (why)
            *why = "pw_host.exe did not start";
        return false;
    }
    std::string line;
    for (;;) {
        if (!host->readLine(&line, 10000)) {
            if (why)
                *why = "no READY from pw_host";
            return false;
        }
        if (line == "READY" || line.rfind("READY ", 0) == 0) {
            if (port != nullptr && line.size() > 6)
                *port = atoi(line.c_str() + 6);
            return true;
        }
        if (line == "FAILED") {
            if (why)
                *why = "pw_host could not open the link";
            return false;
        }
    }
}

bool startServerHost(HostProcess *host, int *port, const std::wstring &folder, std::string *why,
                     const std::vector<std::wstring> &extra)
{
    std::vector<std::wstring> arguments = {L"--server", std::to_wstring(*port)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    if (!folder.empty()) {
        arguments.push_back(L"--folder");
        arguments.push_back(folder);
    }
    return startHostSide(host, arguments, port, why);
}

bool startClientHost(HostProcess *host, int port, const std::wstring &folder, std::string *why,
                     const std::vector<std::wstring> &extra)
{
    std::vector<std::wstring> arguments = {L"--client", L"127.0.0.1", std::to_wstring(port)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    if (!folder.empty()) {
        arguments.push_back(L"--folder");
        arguments.push_back(folder);
    }
    return startHostSide(host, arguments, nullptr, why);
}

bool sawSequence(HostProcess *host, const char *who, const std::vector<std::string> &prefixes, int ms)
{
    std::string why;
    if (waitForSequence(host, prefixes, ms, &why))
        return true;
    ADD_FAILURE() << who << ": " << why;
    return false;
}
