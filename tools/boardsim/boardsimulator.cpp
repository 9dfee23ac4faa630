#include "boardsimulator.h"
BoardSimulator::BoardSimulator(QObject *parent) : QObject(parent) {}
