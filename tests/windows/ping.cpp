// A stand-in for Windows' ping, which a test copies under the name ping.exe
// into the current directory of the program that runs it (searched before
// system32). It writes its arguments to ping.args beside itself, separated by
// "|", prints ping.out as it is and exits with the number in ping.code (0
// when there is none).
#include <windows.h>

#include <cstdio>
#include <string>

namespace
{
std::string besideMe(const char *name)
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1) + name;
}
} // namespace

int main(int argc, char **argv)
{
    if (FILE *f = std::fopen(besideMe("ping.args").c_str(), "w")) {
        for (int i = 1; i < argc; ++i)
            std::fprintf(f, "%s%s", i > 1 ? "|" : "", argv[i]);
        std::fclose(f);
    }
    if (FILE *f = std::fopen(besideMe("ping.out").c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            std::fwrite(buffer, 1, n, stdout);
        std::fclose(f);
    }
    int code = 0;
    if (FILE *f = std::fopen(besideMe("ping.code").c_str(), "r")) {
        if (std::fscanf(f, "%d", &code) != 1)
            code = 0;
        std::fclose(f);
    }
    std::fflush(stdout);
    return code;
}
