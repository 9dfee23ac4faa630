#include "support/boardrig.h"

#include <QFile>
#include <QMutex>
#include <QSignalSpy>
#include <QTest>

namespace
{
struct Messages {
    QMutex mutex;
    QStringList console;
    QStringList warnings;
    QtMessageHandler previous = nullptr;
};

Messages &messages()
{
    static Messages m;
    return m;
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Messages &m = messages();
    const bool console = type == QtDebugMsg || type == QtInfoMsg;
    {
        QMutexLocker lock(&m.mutex);
        (console ? m.console : m.warnings) << msg;
    }
    if (!console || !qEnvironmentVariableIsEmpty("TOVEL3_TEST_VERBOSE"))
        m.previous(type, context, msg);
}
} // namespace

void Console::capture()
{
    messages().previous = qInstallMessageHandler(handler);
}

void Console::clear()
{
    QMutexLocker lock(&messages().mutex);
    messages().console.clear();
    messages().warnings.clear();
}

int Console::count(const QString &line)
{
    QMutexLocker lock(&messages().mutex);
    return messages().console.count(line);
}

int Console::starting(const QString &prefix)
{
    QMutexLocker lock(&messages().mutex);
    int n = 0;
    for (const QString &line : qAsConst(messages().console))
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

int Console::warnings(const QString &part)
{
    QMutexLocker lock(&messages().mutex);
    return messages().warnings.filter(part).size();
}

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
    if (!started)
        return false;
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
