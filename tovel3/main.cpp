#include "window/desktopstartup.h"

int main(int argc, char *argv[])
{
    return DesktopStartup::run(argc, argv);
}
