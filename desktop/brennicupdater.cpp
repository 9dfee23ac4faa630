#include "brennicupdater.h"
