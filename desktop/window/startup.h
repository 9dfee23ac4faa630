#pragma once

// Start-up decisions taken before the main window exists.
namespace Startup
{
// True when the process has no display to talk to and the user chose no
// platform (neither QT_QPA_PLATFORM nor a -platform argument): then it has to
// run on the offscreen platform with the software renderer.
bool needsOffscreenPlatform(int argc, char **argv);
// The system's half of it (startup_<system>.cpp): whether the session offers
// a display at all (X11 or Wayland; on Windows always).
bool hasDisplay();

// Applies the decision above to the environment, before the application
// object exists. Returns whether it switched to the offscreen platform.
bool chooseHeadlessPlatform(int argc, char **argv);

// Before the settings store is first opened: when the store's file exists
// but is no regular file (a FIFO would block every read for good, a device
// holds no settings), points the store at a private temporary directory for
// this run, leaves the file alone and says so on the console. Returns whether
// it did. Outside Windows and macOS, whose stores are no such file.
bool divertIrregularSettingsFile();
} // namespace Startup
