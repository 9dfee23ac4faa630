#include "boardsimulator.h"
int main() { return 0; }
