// Nothing to ask: a Windows session always has its desktop.
#include "window/startup.h"

bool Startup::hasDisplay()
{
    return true;
}
