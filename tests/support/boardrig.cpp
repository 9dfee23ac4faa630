#include "support/boardrig.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

BoardRig::BoardRig(BoardSimulator::Model model)
    : sim(model)
{
    journal.setWriteTimeStamp(false);
    journal.setLogFile(dir.filePath(QStringLiteral("tovel3.log")));
    journal.setPaused(false);
    started = sim.start(dir.filePath(QStringLiteral("board")));
    qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(sim.portPath()));
}

BoardRig::~BoardRig()
{
    qunsetenv("TOVEL3_EXTRA_PORTS");
}

bool BoardRig::identify(bool feed)
{
    QSignalSpy handshake(&board, &Board::suspendReported);
    board.setPort(sim.portPath());
    if (feed && !board.sendHeartbeat())
        return false;
    const QString letter(QLatin1Char(sim.typeLetter()));
    return QTest::qWaitFor(
        [&] { return board.modelLetter() == letter && (!feed || handshake.count()); }, 3000);
}

int BoardRig::received(const QByteArray &text) const
{
    return sim.receivedTexts().count(text);
}

QStringList BoardRig::journalLines() const
{
    QFile f(journal.getLogFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}
