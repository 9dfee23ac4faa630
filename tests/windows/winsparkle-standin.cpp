// Stands in for WinSparkle.dll in the tests: exports the functions of its C
// interface that the program calls, and appends each call with its arguments
// as one line to winsparkle-calls.txt in the current directory.
#include <cstdio>
#include <cstdarg>
#include <cwchar>

namespace
{
void record(const char *format, ...)
{
    FILE *f = std::fopen("winsparkle-calls.txt", "a");
    if (!f)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

// Wide text as UTF-8 is enough for the ASCII the program passes; anything
// else shows as '?'.
const char *narrow(const wchar_t *text, char *buffer, size_t size)
{
    size_t i = 0;
    for (; text && text[i] && i + 1 < size; ++i)
        buffer[i] = text[i] < 128 ? char(text[i]) : '?';
    buffer[i] = '\0';
    return buffer;
}
} // namespace

extern "C" {
__declspec(dllexport) void __cdecl win_sparkle_init()
{
    record("init");
}
__declspec(dllexport) void __cdecl win_sparkle_cleanup()
{
    record("cleanup");
}
__declspec(dllexport) void __cdecl win_sparkle_set_app_details(const wchar_t *company,
                                                               const wchar_t *app,
                                                               const wchar_t *version)
{
    char c[256], a[256], v[256];
    record("set_app_details %s|%s|%s", narrow(company, c, sizeof c), narrow(app, a, sizeof a),
           narrow(version, v, sizeof v));
}
__declspec(dllexport) void __cdecl win_sparkle_set_appcast_url(const char *url)
{
    record("set_appcast_url %s", url ? url : "(null)");
}
__declspec(dllexport) void __cdecl win_sparkle_set_automatic_check_for_updates(int state)
{
    record("set_automatic_check_for_updates %d", state);
}
__declspec(dllexport) void __cdecl win_sparkle_set_update_check_interval(int interval)
{
    record("set_update_check_interval %d", interval);
}
__declspec(dllexport) void __cdecl win_sparkle_check_update_with_ui()
{
    record("check_update_with_ui");
}
}
