// A stand-in for Windows' tasklist, which Wine has only as a stub that lists
// nothing. It answers the image-name and "not responding" filters from two
// files beside it, which the tests write: tasklist.running (the image names
// that run, one a line) and tasklist.hung (those of them that do not
// respond). Each run appends its arguments to tasklist.args, one line per
// run, separated by "|".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
std::string besideMe(const char *name)
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1) + name;
}

std::vector<std::string> lines(const char *name)
{
    std::vector<std::string> result;
    if (FILE *f = std::fopen(besideMe(name).c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, f)) {
            std::string s(line);
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
                s.pop_back();
            if (!s.empty())
                result.push_back(s);
        }
        std::fclose(f);
    }
    return result;
}

bool listed(const std::vector<std::string> &names, const std::string &name)
{
    for (const std::string &n : names)
        if (_stricmp(n.c_str(), name.c_str()) == 0)
            return true;
    return false;
}
} // namespace

int main(int argc, char **argv)
{
    if (FILE *f = std::fopen(besideMe("tasklist.args").c_str(), "a")) {
        for (int i = 1; i < argc; ++i)
            std::fprintf(f, "%s%s", i > 1 ? "|" : "", argv[i]);
        std::fprintf(f, "\n");
        std::fclose(f);
    }
    std::string image;
    bool hungOnly = false;
    for (int i = 1; i + 1 < argc; ++i) {
        if (_stricmp(argv[i], "/FI") != 0)
            continue;
        const char *filter = argv[++i];
        if (_strnicmp(filter, "IMAGENAME eq ", 13) == 0)
            image = filter + 13;
        else if (_stricmp(filter, "STATUS eq NOT RESPONDING") == 0)
            hungOnly = true;
    }
    const std::vector<std::string> running = lines("tasklist.running");
    const std::vector<std::string> hung = lines("tasklist.hung");
    bool any = false;
    for (const std::string &name : running) {
        if (!image.empty() && _stricmp(name.c_str(), image.c_str()) != 0)
            continue;
        if (hungOnly && !listed(hung, name))
            continue;
        std::printf("\"%s\",\"%lu\",\"Console\",\"1\",\"10,240 K\"\r\n", name.c_str(),
                    static_cast<unsigned long>(1000 + (&name - running.data())));
        any = true;
    }
    if (!any)
        std::printf("INFO: No tasks are running which match the specified criteria.\r\n");
    return 0;
}
