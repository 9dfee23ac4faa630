#include "update/brennicupdater.h"
