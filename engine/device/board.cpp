#include "device/board.h"

#include "device/serialchannel.h"
#include "logging.h"
#include "storage/journal.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>

#include <utility>

using namespace BoardProtocol;

namespace
{
// "~I" asked at most this often per opening of the port.
const int identifyAsks = 2;

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
    , m_exchangeTimer(singleShotTimer(ExchangeTimeoutMs, this))
{
    qRegisterMetaType<BoardSettings>();
    connect(m_channel, &SerialChannel::dataReady, this, &Board::onData);
    connect(m_quietTimer, &QTimer::timeout, this, &Board::onQuiet);
    connect(m_writeTimer, &QTimer::timeout, this, &Board::onWriteTimer);
    connect(m_readTimer, &QTimer::timeout, this, [this] { setSettingsUnanswered(true); });
    m_rescanTimer->setInterval(RescanIntervalMs);
    connect(m_rescanTimer, &QTimer::timeout, this, [this] {
        qCInfo(lcSerial).noquote() << "Rescan triggered";
        scan();
    });
    connect(m_exchangeTimer, &QTimer::timeout, this, &Board::exchangeEnded);
}

Board::~Board() = default;

// ---------------------------------------------------------------------------
// State

bool Board::isConnected() const
{
    return !m_letter.isEmpty();
}

bool Board::isPortOpen() const
{
    return m_channel->isDeviceOpen();
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

void Board::setExtraPorts(const QString &names)
{
    m_channel->setExtraPorts(names);
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
    qCInfo(lcSerial).noquote() << "Available ports:" << ports.join(QLatin1Char(','));
    qCInfo(lcSerial).noquote() << "Restoring port:" << saved;
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
    }
    const QString port = wanted.isEmpty() ? ports.value(0) : wanted;
    if (!port.isEmpty())
        setPort(port);
}

void Board::scan()
{
    const QStringList ports = listPorts();
    if (m_ports != ports) {
        m_ports = ports;
        emit portsChanged();
    }
    // The port in use stays, listed or not: another device with the same
    // vendor id must not take the heartbeat away from a board unplugged for
    // a moment.
    if (m_port.isEmpty() && !ports.isEmpty())
        setPort(ports.first());
    if (!ports.isEmpty())
        m_rescanTimer->stop();
}

void Board::setPort(const QString &name)
{
    const QString stable = stablePortName(name, m_byIdDir);
    dropPort();
    m_chosen = stable;
    m_identity.clear();
    if (m_port != stable) {
        m_port = stable;
        emit portChanged(stable);
    }
    // Whatever was shown of the previous port's board is not this one's:
    // "n/a" until the board here reports.
    m_announced.clear();
    if (openPort(true)) {
        qCInfo(lcSerial).noquote() << "Opened port" << stable;
        emit portSelected(stable);
    } else {
        qCInfo(lcSerial).noquote() << "Cannot open port" << stable;
        emit portOpenFailed(stable);
    }
}

QString Board::portIdentity(const QString &name) const
{
    // On Linux the stable link names the vendor, the model and the USB
    // serial number.
    const QString stable = stablePortName(name, m_byIdDir);
    if (stable.startsWith(m_byIdDir + QLatin1Char('/')))
        return QFileInfo::exists(stable) ? QFileInfo(stable).fileName() : QString();
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        if ((info.portName() == name || info.systemLocation() == name) &&
            !info.serialNumber().isEmpty())
            return QStringLiteral("%1:%2:%3")
                .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'))
                .arg(info.serialNumber());
    }
    return QString();
}

QString Board::findBoard() const
{
    if (m_identity.isEmpty())
        return QString();
    QStringList candidates = listPorts();
    candidates.removeAll(m_chosen);
    candidates.prepend(m_chosen);
    for (const QString &name : qAsConst(candidates)) {
        if (name != m_port && portIdentity(name) == m_identity)
            return name;
    }
    return QString();
}

bool Board::openPort(bool portChange)
{
    // Under a name that now leads to another device (or to none), nothing
    // is opened: the board is looked for elsewhere.
    if (!m_identity.isEmpty() && portIdentity(m_port) != m_identity)
        return false;
    if (!m_channel->open(m_port))
        return false;
    if (m_identity.isEmpty() && m_port == m_chosen)
        m_identity = portIdentity(m_port);
    m_framer.clear();
    m_quietTimer->stop();
    m_handshakeDue = true;
    m_heartbeatPending = false;
    m_identifyAsks = 1;
    // Who is there, without feeding it: the handshake waits for an
    // acknowledged heartbeat.
    const int t1 = m_compatibilityT1 < 0 ? 5 : m_compatibilityT1;
    submit(
        {Exchange::Identify, m_compatibility && portChange ? legacyWrite(t1, true) : identify()});
    return true;
}

bool Board::ensureOpen()
{
    if (m_channel->isDeviceOpen())
        return true;
    if (m_channel->isOpen()) {
        qCInfo(lcSerial).noquote() << "Lost port" << m_port;
        dropPort();
    }
    if (m_port.isEmpty())
        return false;
    if (openPort(false))
        return true;
    const QString found = findBoard();
    if (found.isEmpty())
        return false;
    const QString from = m_port;
    m_port = found;
    if (m_journal)
        m_journal->log(tr("Watchdog moved from %1 to %2").arg(from, found));
    emit portChanged(found);
    emit boardMoved(from, found);
    return openPort(false);
}

void Board::dropPort()
{
    m_channel->close();
    m_queue.clear();
    m_awaited.clear();
    m_exchangeTimer->stop();
    m_framer.clear();
    m_quietTimer->stop();
    m_heartbeatPending = false;
    m_ledAsked = m_suspendAsked = -1;
    clearIdentity();
}

// ---------------------------------------------------------------------------
// Exchanges

QByteArray Board::awaitedReplies(const QByteArray &bytes) const
{
    QByteArray letters;
    for (int i = bytes.indexOf('~'); i >= 0 && i + 1 < bytes.size();
         i = bytes.indexOf('~', i + 1)) {
        const char letter = bytes.at(i + 1);
        // The firmware-update mode answers nothing, nor does the old board a write.
        if (letter == 'D' || (letter == 'W' && m_compatibility))
            continue;
        letters += letter == 'U' ? 'A' : letter == 'W' ? 'F' : letter;
    }
    return letters;
}

bool Board::submit(const Exchange &exchange)
{
    if (m_awaited.isEmpty() && m_queue.isEmpty())
        return write(exchange);
    if (exchange.kind == Exchange::Heartbeat) {
        // Next after the exchange under way; one waiting is enough.
        if (m_queue.isEmpty() || m_queue.first().kind != Exchange::Heartbeat)
            m_queue.prepend(exchange);
    } else if (m_queue.size() < MaxQueued) {
        m_queue.append(exchange);
    } else {
        return false;
    }
    writeQueued();
    return true;
}

bool Board::write(const Exchange &exchange)
{
    QByteArray bytes = exchange.bytes;
    if (exchange.kind == Exchange::Heartbeat)
        bytes = heartbeat(boardModel());
    if (exchange.kind == Exchange::Handshake) {
        bytes = handshake(m_led, m_suspended);
        if (m_letter.isEmpty() && m_identifyAsks < identifyAsks) {
            ++m_identifyAsks;
            bytes += identify();
        }
    }
    if (!m_channel->writeString(QString::fromLatin1(bytes))) {
        qCInfo(lcSerial).noquote() << "!!Cannot write to " + m_channel->name();
        dropPort();
        return false;
    }
    m_current = exchange.kind;
    m_awaited = awaitedReplies(bytes);
    if (!m_awaited.isEmpty())
        m_exchangeTimer->start();
    if (exchange.kind == Exchange::Heartbeat) {
        m_heartbeatPending = true;
        emit heartbeatSent();
        return true;
    }
    qCInfo(lcSerial).noquote() << ">>" + QString::fromLatin1(bytes);
    if (exchange.kind == Exchange::Command) {
        if (bytes.startsWith("~W") && !m_compatibility)
            m_writeTimer->start(); // the confirmation is awaited from now
        if (bytes == BoardProtocol::led(true) || bytes == BoardProtocol::led(false))
            m_ledAsked = bytes == BoardProtocol::led(true);
        if (bytes == suspend(true) || bytes == suspend(false))
            m_suspendAsked = bytes == suspend(true);
        emit commandSent(bytes);
    }
    return true;
}

void Board::writeQueued()
{
    while (m_awaited.isEmpty() && !m_queue.isEmpty()) {
        if (!write(m_queue.takeFirst()))
            return;
    }
}

void Board::exchangeEnded()
{
    m_exchangeTimer->stop();
    m_awaited.clear();
    // A switch the board did not answer within its exchange stays unconfirmed.
    m_ledAsked = m_suspendAsked = -1;
    // A lost identity is asked for once more.
    if (m_current == Exchange::Identify && m_letter.isEmpty() && m_identifyAsks < identifyAsks &&
        m_channel->isOpen()) {
        ++m_identifyAsks;
        m_queue.append({Exchange::Identify, identify()});
    }
    writeQueued();
}

// ---------------------------------------------------------------------------
// Commands

bool Board::sendHeartbeat()
{
    // The heartbeat before this one got no acknowledgement: what the
    // board last reported is no longer current.
    if (m_heartbeatPending)
        setAnswering(false);
    if (!ensureOpen()) {
        clearIdentity();
        setAnswering(false);
        emit portOpenFailed(m_port);
        return false;
    }
    return submit({Exchange::Heartbeat, QByteArray()});
}

bool Board::command(const QByteArray &bytes)
{
    for (const CommandEntry &entry : journaledCommands) {
        if (bytes == entry.command)
            log(entry.text);
    }
    if (bytes.startsWith("~W") && !m_compatibility) {
        setWritePending(true);
        m_writeTimer->start();
    }
    if (ensureOpen() && submit({Exchange::Command, bytes}))
        return true;
    qCInfo(lcSerial).noquote() << "!!Cannot write to " + m_channel->name();
    return false;
}

bool Board::setLed(bool on)
{
    return command(BoardProtocol::led(on));
}

bool Board::setSuspended(bool on)
{
    return command(suspend(on));
}

bool Board::setChannel(int n, bool closed)
{
    if (n < 1 || n > 2)
        return false;
    return command(channel(n, closed));
}

bool Board::testReset()
{
    return command(BoardProtocol::testReset());
}

bool Board::testPower()
{
    return command(BoardProtocol::testPower());
}

bool Board::remoteReset()
{
    return command(BoardProtocol::remoteReset(boardModel()));
}

bool Board::remotePower()
{
    const BoardModel *current = boardModel();
    return current && current->hasPowerOutput && command(current->remotePower);
}

bool Board::readSettings()
{
    if (m_compatibility)
        return false;
    m_readTimer->start();
    return command(BoardProtocol::readSettings());
}

bool Board::writeSettings(const BoardSettings &settings)
{
    if (m_compatibility) {
        setCompatibilityT1(settings.t1);
        return command(legacyWrite(settings.t1, false));
    }
    BoardSettings s = settings;
    if (s.p10 < 0)
        s.p10 = qMax(m_settings.p10, 0);
    return command(BoardProtocol::writeSettings(s));
}

bool Board::firmwareUpdate()
{
    return command(BoardProtocol::firmwareUpdate());
}

// ---------------------------------------------------------------------------
// Replies

void Board::onData(const QString &data)
{
    qCInfo(lcSerial).noquote() << "<<" + data;
    const QList<QByteArray> pieces = m_framer.feed(data.toLatin1());
    if (m_framer.hasTail())
        m_quietTimer->start();
    else
        m_quietTimer->stop();
    emit replyReceived();
    for (const QByteArray &piece : pieces)
        received(piece);
}

void Board::onQuiet()
{
    const QByteArray tail = m_framer.takeTail();
    if (!tail.isEmpty())
        received(tail);
}

void Board::received(const QByteArray &piece)
{
    handle(piece);
    const int awaited =
        piece.size() >= 2 && piece.at(0) == '~' ? m_awaited.indexOf(piece.at(1)) : -1;
    if (awaited >= 0) {
        m_awaited.remove(awaited, 1);
        if (m_awaited.isEmpty()) {
            exchangeEnded();
            return;
        }
    }
    writeQueued(); // a handshake the reply asked for
}

void Board::handle(const QByteArray &piece)
{
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
        emit ledReported(reply.on);
        if (std::exchange(m_ledAsked, -1) == int(reply.on))
            emit ledConfirmed(reply.on);
        break;
    case Reply::Suspend:
        if (m_suspended != reply.on) {
            m_suspended = reply.on;
            emit suspendedChanged(m_suspended);
        }
        emit suspendReported(reply.on);
        if (std::exchange(m_suspendAsked, -1) == int(reply.on))
            emit suspendConfirmed(reply.on);
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
    setAnswering(true);
    emit acknowledged();
    // The handshake carries "~P", which restarts the board's clock like a
    // heartbeat: only the acknowledgement of a heartbeat brings it, once
    // per opening of the port.
    if (!answersHeartbeat || !m_handshakeDue)
        return;
    m_handshakeDue = false;
    m_queue.append({Exchange::Handshake, QByteArray()});
}

void Board::handleIdentity(const BoardIdentity &identity)
{
    qCInfo(lcSerial).noquote() << identity.text();
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
        qCInfo(lcSerial).noquote() << "Unknown settings";
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
        emit writeConfirmed();
    }
}

void Board::onWriteTimer()
{
    if (!m_writePending)
        return;
    setWritePending(false);
    emit writeFailed();
}

void Board::handleChannel(int n, bool closed)
{
    // The board's word is its state, and nothing is sent back on it.
    if (m_channelClosed[n - 1] != closed) {
        m_channelClosed[n - 1] = closed;
        emit channelStateChanged();
    }
}
