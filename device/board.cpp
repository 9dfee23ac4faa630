#include "board.h"

#include "journal.h"
#include "serialchannel.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

using namespace BoardProtocol;

namespace
{
const QString updating = QStringLiteral("upd");

struct CommandEntry {
    const char *command;
    const char *text;
};

// Commands that leave a line in the journal.
const CommandEntry journaledCommands[] = {
    {"~T1", QT_TRANSLATE_NOOP("Board", "Reset requested")},
    {"~T2", QT_TRANSLATE_NOOP("Board", "Hard reset requested")},
    {"~M1", QT_TRANSLATE_NOOP("Board", "Remote reset reqested")},
    {"~M2", QT_TRANSLATE_NOOP("Board", "Remote hard reset requested")},
    {"~S1", QT_TRANSLATE_NOOP("Board", "Requested channel 1 close")},
    {"~S2", QT_TRANSLATE_NOOP("Board", "Requested channel 2 close")},
    {"~R1", QT_TRANSLATE_NOOP("Board", "Requested channel 1 open")},
    {"~R2", QT_TRANSLATE_NOOP("Board", "Requested channel 2 open")},
};

QTimer *singleShotTimer(int msecs, QObject *parent)
{
    auto *timer = new QTimer(parent);
    timer->setSingleShot(true);
    timer->setInterval(msecs);
    return timer;
}
} // namespace

Board::Board(Journal *journal, QObject *parent)
    : QObject(parent)
    , m_journal(journal)
    , m_channel(new SerialChannel(this))
    , m_quietTimer(singleShotTimer(QuietTimeMs, this))
    , m_writeTimer(singleShotTimer(WriteTimeoutMs, this))
    , m_readTimer(singleShotTimer(WriteTimeoutMs, this))
    , m_rescanTimer(new QTimer(this))
    , m_probeTimer(singleShotTimer(ProbeTimeoutMs, this))
{
    qRegisterMetaType<BoardSettings>();
    connect(m_channel, &SerialChannel::dataReady, this, &Board::onData);
    connect(m_quietTimer, &QTimer::timeout, this, &Board::onQuiet);
    connect(m_writeTimer, &QTimer::timeout, this, &Board::onWriteTimer);
    connect(m_readTimer, &QTimer::timeout, this, [this] { setSettingsUnanswered(true); });
    m_rescanTimer->setInterval(RescanIntervalMs);
    connect(m_rescanTimer, &QTimer::timeout, this, [this] {
        qInfo().noquote() << "Rescan triggered";
        scan();
    });
    connect(m_probeTimer, &QTimer::timeout, this, &Board::probeNext);
}

Board::~Board() = default;

// ---------------------------------------------------------------------------
// State

bool Board::isConnected() const
{
    return !m_letter.isEmpty() && m_letter != updating;
}

const BoardModel *Board::boardModel() const
{
    return m_letter.size() == 1 ? modelForLetter(m_letter.at(0).toLatin1()) : nullptr;
}

QString Board::model() const
{
    const BoardModel *current = boardModel();
    return current ? current->name : QString();
}

QString Board::displayModel() const
{
    const BoardModel *current = boardModel();
    const BoardModel &older = compatibilityModel();
    if (current && m_compatibility && current->channels == older.channels &&
        current->hasPowerOutput == older.hasPowerOutput)
        return older.name;
    return model();
}

int Board::compatibilityT1Max()
{
    return compatibilityModel().compatibilityT1Max;
}

bool Board::hasInput() const
{
    return m_lastModel && m_lastModel->hasInput;
}

bool Board::hasPowerOutput() const
{
    return m_lastModel && m_lastModel->hasPowerOutput;
}

QString Board::inputLevel() const
{
    return m_input.level ? QString(QLatin1Char(m_input.level)) : QString();
}

QVariantList Board::settingsValues() const
{
    QVariantList values;
    for (int i = 0; i < BoardSettings::FieldCount; ++i)
        values << m_settings.field(i);
    return values;
}

void Board::setCompatibilityMode(bool on)
{
    if (m_compatibility == on)
        return;
    m_compatibility = on;
    emit compatibilityModeChanged(on);
    emit identityChanged(); // the name shown may change
}

void Board::setCompatibilityT1(int t1)
{
    if (m_compatibilityT1 == t1)
        return;
    m_compatibilityT1 = t1;
    emit compatibilityT1Changed(t1);
}

void Board::setSwitchDefaults(bool led, bool suspended)
{
    if (m_led != led) {
        m_led = led;
        emit ledChanged(led);
    }
    if (m_suspended != suspended) {
        m_suspended = suspended;
        emit suspendedChanged(suspended);
    }
}

void Board::setLetter(const QString &letter)
{
    if (m_letter == letter)
        return;
    const bool wasConnected = isConnected();
    m_letter = letter;
    emit identityChanged();
    if (isConnected() != wasConnected)
        emit connectedChanged(isConnected());
}

void Board::clearIdentity()
{
    m_firmware.clear();
    m_channels = 0;
    setLetter(QString());
    emit identityChanged();
    setInput(InputReading());
}

void Board::setInput(const InputReading &input)
{
    if (input.kind == m_input.kind && input.level == m_input.level &&
        input.tenths == m_input.tenths)
        return;
    m_input = input;
    emit inputChanged();
}

void Board::setWritePending(bool pending)
{
    if (m_writePending == pending)
        return;
    m_writePending = pending;
    emit writePendingChanged(pending);
}

void Board::setWriteResult(WriteResult result)
{
    if (m_writeResult == result)
        return;
    m_writeResult = result;
    emit writeResultChanged(result);
}

void Board::setSettingsUnanswered(bool unanswered)
{
    if (m_settingsUnanswered == unanswered)
        return;
    m_settingsUnanswered = unanswered;
    emit settingsUnansweredChanged(unanswered);
}

void Board::setAnswering(bool answering)
{
    if (m_answering == answering)
        return;
    m_answering = answering;
    emit answeringChanged(answering);
}

void Board::log(const char *text, const QString &arg)
{
    if (!m_journal)
        return;
    const QString line = tr(text);
    m_journal->log(arg.isNull() ? line : line.arg(arg));
}

// ---------------------------------------------------------------------------
// Ports

QString Board::stablePortName(const QString &name, const QString &byIdDir)
{
    if (name.isEmpty() || name.startsWith(byIdDir + QLatin1Char('/')))
        return name;
    const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    const QString device = QFileInfo(path).canonicalFilePath();
    if (device.isEmpty())
        return name;
    const QDir dir(byIdDir);
    const QStringList links = dir.entryList(QDir::System | QDir::Files, QDir::Name);
    for (const QString &link : links) {
        const QString linkPath = dir.absoluteFilePath(link);
        if (QFileInfo(linkPath).canonicalFilePath() == device)
            return linkPath;
    }
    return name;
}

QStringList Board::listPorts() const
{
    QStringList ports;
    const QStringList names = m_channel->channels();
    for (const QString &name : names) {
        const QString stable = stablePortName(name, m_byIdDir);
        if (!ports.contains(stable))
            ports << stable;
    }
    return ports;
}

int Board::writeTimeout() const
{
    return m_writeTimer->interval();
}

void Board::setWriteTimeout(int ms)
{
    m_writeTimer->setInterval(ms);
    m_readTimer->setInterval(ms);
}

void Board::restorePort(const QString &saved)
{
    QStringList ports = listPorts();
    const QString wanted = stablePortName(saved, m_byIdDir);
    qInfo().noquote() << "Available ports:" << ports.join(QLatin1Char(','));
    qInfo().noquote() << "Restoring port:" << saved;
    if (!wanted.isEmpty() && ports.contains(wanted))
        ports = QStringList{wanted};
    if (m_ports != ports) {
        m_ports = ports;
        emit portsChanged();
    }
    if (ports.isEmpty()) {
        if (m_journal)
            m_journal->warn(tr("No connected watchdogs detected"));
        m_rescanTimer->start();
        return;
    }
    setPort(ports.first());
}

void Board::scan()
{
    const QString previous = m_port;
    const QStringList ports = listPorts();
    if (m_ports != ports) {
        m_ports = ports;
        emit portsChanged();
    }
    // The port in use stays while it is listed: another device with the same
    // vendor id listed first must not take the heartbeat away.
    const QString next = ports.contains(previous) ? previous : ports.value(0);
    if (next != previous)
        setPort(next);
    if (!ports.isEmpty())
        m_rescanTimer->stop();
}

void Board::setPort(const QString &name)
{
    stopSearch();
    const QString stable = stablePortName(name, m_byIdDir);
    m_channel->close();
    if (m_port != stable) {
        m_port = stable;
        emit portChanged(stable);
    }
    const bool opened = reopen();
    m_firstAck = true;
    m_announced.clear();
    m_heartbeatPending = false;
    m_awaitingAck = false;
    m_failures = 0;
    // Whatever was shown of the previous port's board is not this one's:
    // "n/a" until the board here reports.
    clearIdentity();
    if (opened) {
        qInfo().noquote() << "Opened port" << stable;
        emit portSelected(stable);
        if (m_compatibility)
            command(legacyWrite(m_compatibilityT1 < 0 ? 5 : m_compatibilityT1, true));
    } else {
        qInfo().noquote() << "Cannot open port" << stable;
        emit portOpenFailed(stable);
    }
    emit exchangeStarted();
}

bool Board::reopen()
{
    m_framer.clear();
    m_quietTimer->stop();
    return m_channel->open(m_port);
}

// ---------------------------------------------------------------------------
// Commands

bool Board::sendHeartbeat()
{
    if (!m_probing.isEmpty())
        return false; // the ports are being searched; the board is not here
    if (m_awaitingAck) {
        m_awaitingAck = false;
        setAnswering(false);
        if (++m_failures >= FailureBound) {
            startSearch();
            return false;
        }
    }
    if (!reopen()) {
        clearIdentity();
        setAnswering(false);
        emit portOpenFailed(m_port);
        if (++m_failures >= FailureBound)
            startSearch();
        return false;
    }
    m_heartbeatPending = true;
    m_awaitingAck = true;
    return m_channel->writeString(QString::fromLatin1(heartbeat(boardModel())));
}

void Board::command(const QByteArray &bytes)
{
    stopSearch();
    m_heartbeatPending = false;
    const bool opened = reopen();
    for (const CommandEntry &entry : journaledCommands) {
        if (bytes == entry.command)
            log(entry.text);
    }
    if (bytes.startsWith("~W") && !m_compatibility) {
        setWritePending(true);
        m_writeTimer->start();
    }
    if (opened) {
        m_channel->writeString(QString::fromLatin1(bytes));
        qInfo().noquote() << ">>" + QString::fromLatin1(bytes);
        emit commandSent(bytes);
        if (bytes == BoardProtocol::testPower())
            m_channel->close(); // nothing of the board's answer is read
    } else {
        qInfo().noquote() << "!!Cannot write to " + m_channel->name();
    }
    emit exchangeStarted();
}

void Board::setLed(bool on)
{
    if (m_led != on) {
        m_led = on;
        emit ledChanged(on);
    }
    command(BoardProtocol::led(on));
}

void Board::setSuspended(bool on)
{
    if (m_suspended != on) {
        m_suspended = on;
        emit suspendedChanged(on);
    }
    command(suspend(on));
}

void Board::setChannel(int n, bool closed)
{
    if (n < 1 || n > 2)
        return;
    if (m_channelClosed[n - 1] != closed) {
        m_channelClosed[n - 1] = closed;
        emit channelStateChanged();
    }
    command(channel(n, closed));
}

void Board::testReset()
{
    command(BoardProtocol::testReset());
}

void Board::testPower()
{
    command(BoardProtocol::testPower());
}

void Board::remoteReset()
{
    command(BoardProtocol::remoteReset(boardModel()));
}

void Board::remotePower()
{
    const BoardModel *current = boardModel();
    if (current && current->hasPowerOutput)
        command(current->remotePower);
}

void Board::readSettings()
{
    if (m_compatibility)
        return;
    m_readTimer->start();
    command(BoardProtocol::readSettings());
}

void Board::writeSettings(const BoardSettings &settings)
{
    if (m_compatibility) {
        setCompatibilityT1(settings.t1);
        command(legacyWrite(settings.t1, false));
        return;
    }
    BoardSettings s = settings;
    if (s.p10 < 0)
        s.p10 = qMax(m_settings.p10, 0);
    command(BoardProtocol::writeSettings(s));
}

void Board::firmwareUpdate()
{
    command(BoardProtocol::firmwareUpdate());
}

// ---------------------------------------------------------------------------
// Replies

void Board::onData(const QString &data)
{
    qInfo().noquote() << "<<" + data;
    const QList<QByteArray> pieces = m_framer.feed(data.toLatin1());
    if (m_framer.hasTail())
        m_quietTimer->start();
    else
        m_quietTimer->stop();
    emit replyReceived();
    const QString probed = m_probing;
    for (const QByteArray &piece : pieces) {
        // The search moved on to the next port: the rest came from the last.
        if (!probed.isEmpty() && !m_probing.isEmpty() && m_probing != probed)
            break;
        handle(piece);
    }
}

void Board::onQuiet()
{
    const QByteArray tail = m_framer.takeTail();
    if (!tail.isEmpty())
        handle(tail);
}

void Board::handle(const QByteArray &piece)
{
    if (!m_probing.isEmpty()) {
        probeReply(piece);
        return;
    }
    const Reply reply = parseReply(piece);
    switch (reply.kind) {
    case Reply::Ack:
        handleAck();
        break;
    case Reply::Settings:
        handleSettings(reply.settings);
        break;
    case Reply::Led:
        if (m_led != reply.on) {
            m_led = reply.on;
            emit ledChanged(m_led);
        }
        break;
    case Reply::Suspend:
        if (m_suspended != reply.on) {
            m_suspended = reply.on;
            emit suspendedChanged(m_suspended);
        }
        break;
    case Reply::Identity:
        handleIdentity(reply.identity);
        break;
    case Reply::Input:
        setInput(reply.input);
        break;
    case Reply::ChannelClosed:
    case Reply::ChannelOpened:
        handleChannel(reply.channel, reply.kind == Reply::ChannelClosed);
        break;
    case Reply::Ignored:
        break;
    }
}

void Board::handleAck()
{
    const bool answersHeartbeat = m_heartbeatPending;
    m_heartbeatPending = false;
    m_awaitingAck = false;
    m_failures = 0;
    setAnswering(true);
    emit acknowledged();
    // An identification that got no identity reply ("upd") is retried too,
    // or a board that lost it would never be identified again.
    if (!(m_firstAck || m_letter.isEmpty() || m_letter == updating))
        return;
    // The handshake carries "~P", which restarts the board's clock like a
    // heartbeat: it only answers the acknowledgement of a heartbeat, once.
    if (!answersHeartbeat)
        return;
    if (!m_firstAck)
        setLetter(updating);
    m_firstAck = false;
    command(handshake(m_led, m_suspended));
}

void Board::handleIdentity(const BoardIdentity &identity)
{
    qInfo().noquote() << identity.text();
    m_firmware = identity.version;
    const BoardModel *model = modelForLetter(identity.letter);
    const QString letter = QString(QLatin1Char(identity.letter));
    if (model) {
        // Once per start or port change, also when the first identity
        // reply was lost and the board identified itself later.
        if (m_announced != letter)
            log(model->connectedText, identity.text());
        m_announced = letter;
        m_channels = model->channels;
        m_lastModel = model;
        // A reading of the board that was here before is no reading of
        // this one.
        if (!model->hasInput)
            setInput(InputReading());
    } else {
        m_channels = 0;
    }
    setLetter(letter);
    emit identityChanged();
}

void Board::handleSettings(const BoardSettings &settings)
{
    m_readTimer->stop();
    setSettingsUnanswered(false);
    if (settings.form == BoardSettings::Invalid) {
        qInfo().noquote() << "Unknown settings";
        m_settings.form = BoardSettings::Invalid;
        emit settingsChanged();
        emit settingsRead(m_settings);
        return;
    }
    const int threshold = m_settings.p10;
    m_settings = settings;
    if (m_settings.p10 < 0)
        m_settings.p10 = threshold; // the short form has none
    emit settingsChanged();
    emit settingsRead(m_settings);
    if (m_writePending) {
        m_writeTimer->stop();
        setWritePending(false);
        setWriteResult(WriteOk);
        emit writeConfirmed();
        m_writeTimer->start();
    }
}

void Board::onWriteTimer()
{
    const bool failed = m_writePending;
    setWritePending(false);
    if (failed) {
        setWriteResult(WriteFailed);
        emit writeFailed();
        m_writeTimer->start();
    } else {
        setWriteResult(WriteIdle);
    }
}

void Board::handleChannel(int n, bool closed)
{
    // The board's word is its state. Sending the command back on a reply
    // that contradicts the last one sent (as a switch flipped by the reply
    // once did) loops for ever when two opposite commands are echoed in one
    // reply ("~S1\n~R1\n"): every command restarts the cycle's period, so
    // the heartbeat would stop and the board reset the PC.
    if (m_channelClosed[n - 1] != closed) {
        m_channelClosed[n - 1] = closed;
        emit channelStateChanged();
    }
}

// ---------------------------------------------------------------------------
// Finding a board that came back under another port name

void Board::startSearch()
{
    m_failures = 0;
    m_heartbeatPending = false;
    m_awaitingAck = false;
    m_fallback.clear();
    const QStringList ports = listPorts();
    if (m_ports != ports) {
        m_ports = ports;
        emit portsChanged();
    }
    // The port in use first: a board that was only slow to answer stays.
    m_candidates = ports;
    m_candidates.removeAll(m_port);
    if (!m_port.isEmpty())
        m_candidates.prepend(m_port);
    qInfo().noquote() << "Looking for the board on" << ports.join(QLatin1Char(','));
    probeNext();
}

void Board::probeNext()
{
    m_probeTimer->stop();
    while (!m_candidates.isEmpty()) {
        m_probing = m_candidates.takeFirst();
        m_framer.clear();
        m_quietTimer->stop();
        if (!m_channel->open(m_probing))
            continue;
        if (!m_channel->writeString(QString::fromLatin1(identify())))
            continue;
        qInfo().noquote() << ">>" + m_probing + ": ~I";
        m_probeTimer->start();
        return;
    }
    finishSearch(m_fallback);
}

void Board::probeReply(const QByteArray &piece)
{
    const Reply reply = parseReply(piece);
    if (reply.kind != Reply::Identity)
        return;
    const BoardModel *found = modelForLetter(reply.identity.letter);
    if (!found)
        return;
    if (!m_lastModel || found == m_lastModel) {
        finishSearch(m_probing);
        return;
    }
    if (m_fallback.isEmpty())
        m_fallback = m_probing;
    probeNext();
}

void Board::finishSearch(QString found)
{
    stopSearch();
    if (found.isEmpty() || found == m_port) {
        if (found.isEmpty())
            qInfo().noquote() << "No board answered";
        reopen(); // back on the port in use, for whatever it still sends
        return;
    }
    const QString from = m_port;
    m_port = found;
    // The same board: no new announcement, but the handshake restores its
    // LED and suspension at the next acknowledged heartbeat.
    m_firstAck = false;
    clearIdentity();
    if (m_journal)
        m_journal->log(tr("Watchdog moved from %1 to %2").arg(from, found));
    reopen();
    emit portChanged(found);
    emit portSelected(found);
    emit boardMoved(from, found);
}

void Board::stopSearch()
{
    m_probeTimer->stop();
    m_candidates.clear();
    m_probing.clear();
}
