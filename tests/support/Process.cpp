#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "support/Process.h"

#include "platform/Platform.h"
#include "support/TestSupport.h"

namespace testsupport {

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

// One argument quoted so that CommandLineToArgvW and the C runtime give it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

HANDLE OpenInheritable(const std::wstring& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return ::CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                         write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    ProcessResult result;
    TempDir tmp;
    const std::wstring outFile = (tmp / "stdout").wstring();
    const std::wstring errFile = (tmp / "stderr").wstring();
    std::wstring commandLine = QuoteArgument(Wide(program));
    for (const std::string& arg : args)
        commandLine += L" " + QuoteArgument(Wide(arg));

    HANDLE in = OpenInheritable(L"NUL", false);
    HANDLE out = OpenInheritable(outFile, true);
    HANDLE err = OpenInheritable(errFile, true);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const bool started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
                         err != INVALID_HANDLE_VALUE &&
                         ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &process);
    for (HANDLE h : {in, out, err})
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    if (!started)
        return result;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code))
        result.status = static_cast<int>(code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    result.out = ReadFile(tmp / "stdout");
    result.err = ReadFile(tmp / "stderr");
    return result;
}

#else

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    ProcessResult result;
    TempDir tmp;
    const std::string outFile = (tmp / "stdout").string();
    const std::string errFile = (tmp / "stderr").string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return result;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(tmp / "stdout");
    result.err = ReadFile(tmp / "stderr");
    return result;
}

#endif

std::vector<std::string> SplitShellWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const std::size_t end = text.find('\'', i + 1);
            const std::size_t stop = end == std::string::npos ? text.size() : end;
            word += text.substr(i + 1, stop - i - 1);
            i = stop;
        } else if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size() &&
                    (text[i + 1] == '"' || text[i + 1] == '\\'))
                    ++i;
                word.push_back(text[i]);
            }
        } else if (c == '\\' && i + 1 < text.size()) {
            word.push_back(text[++i]);
        } else {
            word.push_back(c);
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

} // namespace testsupport
