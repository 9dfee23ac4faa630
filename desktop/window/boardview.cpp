#include "window/boardview.h"

#include "device/board.h"

BoardView::BoardView(Board *board, QObject *parent)
    : ObjectMirror(this, board, parent)
    , m_board(board)
{
    // Every reply counts, also one that repeats the values already shown.
    connect(board, &Board::settingsRead, this,
            [this](const BoardProtocol::BoardSettings &settings) {
                QVariantList values;
                for (int i = 0; i < BoardProtocol::BoardSettings::FieldCount; ++i)
                    values.append(settings.field(i));
                emit settingsRead(settings.form, values);
            });
    connect(board, &Board::writeConfirmed, this, &BoardView::writeConfirmed);
    connect(board, &Board::writeFailed, this, &BoardView::writeFailed);
}

void BoardView::setPort(const QString &name)
{
    post([board = m_board, name] { board->setPort(name); });
}

void BoardView::scan()
{
    post([board = m_board] { board->scan(); });
}

void BoardView::setLed(bool on)
{
    post([board = m_board, on] { board->setLed(on); });
}

void BoardView::setSuspended(bool on)
{
    post([board = m_board, on] { board->setSuspended(on); });
}

void BoardView::setChannel(int n, bool closed)
{
    post([board = m_board, n, closed] { board->setChannel(n, closed); });
}

void BoardView::testReset()
{
    post([board = m_board] { board->testReset(); });
}

void BoardView::testPower()
{
    post([board = m_board] { board->testPower(); });
}

void BoardView::remoteReset()
{
    post([board = m_board] { board->remoteReset(); });
}

void BoardView::remotePower()
{
    post([board = m_board] { board->remotePower(); });
}

void BoardView::readSettings()
{
    post([board = m_board] { board->readSettings(); });
}

void BoardView::writeSettings(const QVariantList &values, bool longForm)
{
    BoardProtocol::BoardSettings settings;
    settings.form =
        longForm ? BoardProtocol::BoardSettings::Long : BoardProtocol::BoardSettings::Short;
    const int count = longForm ? BoardProtocol::BoardSettings::FieldCount : 2;
    for (int i = 0; i < count && i < values.size(); ++i) {
        bool ok = false;
        const int v = values.at(i).toInt(&ok);
        settings.setField(i, ok ? v : -1);
    }
    post([board = m_board, settings] { board->writeSettings(settings); });
}

void BoardView::firmwareUpdate()
{
    post([board = m_board] { board->firmwareUpdate(); });
}
