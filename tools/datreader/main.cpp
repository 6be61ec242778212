// datreader: lists, exports and checks the date recorder's record file.

#include "FileSource.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <vector>

#ifdef _WIN32
namespace {

std::string Utf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string s(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), size, nullptr, nullptr);
    return s;
}

// Paths in messages are UTF-8; let the console show them, and give it back as it was.
class Utf8Console
{
public:
    Utf8Console() : saved_(GetConsoleOutputCP()) { SetConsoleOutputCP(CP_UTF8); }
    ~Utf8Console()
    {
        if (saved_)
            SetConsoleOutputCP(saved_);
    }

private:
    UINT saved_;
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Utf8Console console;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(Utf8(argv[i]));
#else
int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
#endif
    datreader::UseBinaryStandardInput();
    datreader::ProcessEnvironment env;
    return datreader::RunReader(args, env);
}
