#pragma once

#include "window/objectmirror.h"

#include <QVariantList>

class Board;

// The board as the pages see it: a copy of the board's properties on the GUI
// thread (see ObjectMirror), and its commands, handed to the engine thread.
class BoardView : public ObjectMirror
{
    Q_OBJECT
public:
    explicit BoardView(Board *board, QObject *parent = nullptr);

    Q_INVOKABLE void setPort(const QString &name);
    Q_INVOKABLE void scan();
    Q_INVOKABLE void setLed(bool on);
    Q_INVOKABLE void setSuspended(bool on);
    Q_INVOKABLE void setChannel(int n, bool closed);
    Q_INVOKABLE void testReset();
    Q_INVOKABLE void testPower();
    Q_INVOKABLE void remoteReset();
    Q_INVOKABLE void remotePower();
    Q_INVOKABLE void readSettings();
    // The ten box indices t1..t5, p6..p9 and the threshold, in the long form
    // (two-channel board) or only t1 and t2 in the short one.
    Q_INVOKABLE void writeSettings(const QVariantList &values, bool longForm);
    Q_INVOKABLE void firmwareUpdate();

signals:
    // The board answered "~F": its form (BoardSettings::Form) and the ten
    // values (-1 where the form has none).
    void settingsRead(int form, const QVariantList &values);
    void writeConfirmed();
    void writeFailed();

private:
    Board *m_board;
};
