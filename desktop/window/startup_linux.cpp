// A display is an X11 or a Wayland server named in the environment.
#include "window/startup.h"

#include <QtGlobal>

bool Startup::hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
