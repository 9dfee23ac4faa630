#pragma once

class QQmlAbstractUrlInterceptor;

// The desktop program from its start to its end: the application object, the
// single-instance guard, the command line, the language, the journal and the
// window; without a display, the watchdog as the service runs it. main() and
// the start-up bench run the same.
namespace DesktopStartup
{
// Returns the exit code. `interceptor`, when given, sees every URL the
// window's QML engine loads (the bench swaps a page with it).
int run(int argc, char **argv, QQmlAbstractUrlInterceptor *interceptor = nullptr);
} // namespace DesktopStartup
