// The tool's entry point on Windows: the arguments as UTF-8, whatever the console's code page, so
// that non-ASCII paths reach the library intact; standard output and error in binary mode, so that
// files written through them are the same bytes as on other systems; the progress bar's escape
// sequences understood by the console.
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>

#include <climits>
#include <string>
#include <vector>

#include "tool.h"

namespace {

std::string Utf8(const wchar_t* wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    text.pop_back();  // the terminating NUL
    return text;
}

// The console's settings that the tool changes while it runs, given back when it ends: they
// belong to the console window, which outlives the tool.
class ConsoleSettings {
  public:
    ConsoleSettings() : codePage_(GetConsoleOutputCP()), error_(GetStdHandle(STD_ERROR_HANDLE)) {
        // Messages and JSON on the console are UTF-8, as the arguments are.
        if (codePage_ != 0) SetConsoleOutputCP(CP_UTF8);
        // The progress bar's escape sequences.
        if (error_ != INVALID_HANDLE_VALUE && GetConsoleMode(error_, &errorMode_)) {
            SetConsoleMode(error_, errorMode_ | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
            restoreMode_ = true;
        }
    }
    ~ConsoleSettings() {
        if (codePage_ != 0) SetConsoleOutputCP(codePage_);
        if (restoreMode_) SetConsoleMode(error_, errorMode_);
    }
    ConsoleSettings(const ConsoleSettings&) = delete;
    ConsoleSettings& operator=(const ConsoleSettings&) = delete;

  private:
    UINT codePage_;
    HANDLE error_;
    DWORD errorMode_ = 0;
    bool restoreMode_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const ConsoleSettings console;
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) arguments.push_back(Utf8(argv[i]));
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return annoxml::cli::Main(argc, pointers.data());
}
