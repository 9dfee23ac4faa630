#pragma once

#include "boardsim/boardsimulator.h"
#include "device/board.h"
#include "storage/journal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// What the code under test says on the console (debug and info lines) and
// its warnings, from any thread. Lines are kept quiet unless
// TOVEL3_TEST_VERBOSE is set. capture() once in initTestCase().
namespace Console
{
void capture();
void clear();
int count(const QString &line);      // lines reading `line`
int starting(const QString &prefix); // lines starting with `prefix`
int warnings(const QString &part);   // warnings containing `part`
} // namespace Console

// A simulated board on a pseudo-terminal in a temporary directory, its port
// the one extra port allowed, and a Board journaling (without time stamps)
// into the same directory. The tests extend it with what sits on top.
struct BoardRig {
    explicit BoardRig(BoardSimulator::Model model = BoardSimulator::X2);
    ~BoardRig();
    BoardRig(const BoardRig &) = delete;
    BoardRig &operator=(const BoardRig &) = delete;

    // The Board on the simulator's port (false when the simulator did not
    // start) and identified; with `feed` also fed once and its handshake
    // answered.
    bool identify(bool feed = true);

    // How often the board received `text`.
    int received(const QByteArray &text) const;
    // The journal's lines, and how many of them read `line`.
    QStringList journalLines() const;
    int journalCount(const QString &line) const { return journalLines().count(line); }

    QTemporaryDir dir;
    Journal journal;
    BoardSimulator sim;
    Board board{&journal};
    bool started = false;
};
