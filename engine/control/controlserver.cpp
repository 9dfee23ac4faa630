#include "control/controlserver.h"

#include "control/boardparameters.h"
#include "control/controlconnection.h"
#include "control/controlprotocol.h"
#include "device/board.h"
#include "monitor/heartbeat.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTimer>

using namespace BoardProtocol;

namespace
{
const QString okKey = QStringLiteral("ok");

QJsonObject success()
{
    return {{okKey, true}};
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue time(qint64 msecs)
{
    if (msecs <= 0)
        return QJsonValue();
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::ISODate);
}

QJsonObject check(bool enabled, const QString &target, bool ok)
{
    return {{QStringLiteral("enabled"), enabled},
            {QStringLiteral("target"), target},
            {okKey, enabled ? QJsonValue(ok) : QJsonValue()}};
}
} // namespace

ControlServer::ControlServer(Board *board, Heartbeat *heartbeat, QObject *parent)
    : QObject(parent)
    , m_board(board)
    , m_heartbeat(heartbeat)
    , m_operationTimer(new QTimer(this))
{
    m_operationTimer->setSingleShot(true);
    m_operationTimer->setInterval(BoardTimeoutMs);
    connect(m_operationTimer, &QTimer::timeout, this, &ControlServer::onTimeout);
    connect(m_board, &Board::commandSent, this, [this](const QByteArray &command) {
        if (m_operation.step == Operation::Switch && command == m_operation.command)
            m_operation.written = true;
    });
    connect(m_board, &Board::ledReported, this, [this](bool on) { onSwitchReported(true, on); });
    connect(m_board, &Board::suspendReported, this,
            [this](bool on) { onSwitchReported(false, on); });
    connect(m_board, &Board::settingsRead, this, &ControlServer::onSettingsRead);
    connect(m_board, &Board::writeConfirmed, this, &ControlServer::onWriteConfirmed);
    connect(m_board, &Board::writeFailed, this, &ControlServer::onWriteFailed);
}

ControlServer::~ControlServer()
{
    close();
}

void ControlServer::close()
{
    const auto sockets = m_clients.keys();
    for (ControlConnection *socket : sockets)
        dropClient(socket);
    closeListener();
    m_path.clear();
}

void ControlServer::addClient(ControlConnection *socket)
{
    if (m_clients.size() >= MaxConnections) {
        socket->write(ControlProtocol::encode(
            ControlProtocol::failure(QStringLiteral("too many connections"))));
        connect(socket, &ControlConnection::disconnected, socket, &QObject::deleteLater);
        socket->close();
        return;
    }
    socket->setReadBufferSize(ControlProtocol::MaxRequestLength + 1);
    Client client;
    client.idle = new QTimer(socket);
    client.idle->setSingleShot(true);
    client.idle->setInterval(m_idleTimeoutMs);
    connect(client.idle, &QTimer::timeout, this, [this, socket] { dropClient(socket); });
    connect(socket, &ControlConnection::readyRead, this, [this, socket] { readClient(socket); });
    connect(socket, &ControlConnection::disconnected, this, [this, socket] { dropClient(socket); });
    m_clients.insert(socket, client);
    client.idle->start();
}

void ControlServer::readClient(ControlConnection *socket)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end() || it->busy)
        return;
    const int bound = ControlProtocol::MaxRequestLength;
    while (!it->buffer.contains('\n') && it->buffer.size() <= bound && socket->bytesAvailable() > 0)
        it->buffer += socket->read(bound + 1 - it->buffer.size());
    const int newline = it->buffer.indexOf('\n');
    if (newline < 0) {
        if (it->buffer.size() > bound)
            reject(socket, QStringLiteral("request too long"));
        return;
    }
    const QByteArray line = it->buffer.left(newline);
    it->buffer.remove(0, newline + 1);
    it->idle->start();
    QJsonObject request;
    if (!ControlProtocol::decode(line, &request)) {
        reject(socket, QStringLiteral("not a request"));
        return;
    }
    it->busy = true;
    handle(socket, request);
}

void ControlServer::dropClient(ControlConnection *socket)
{
    if (!m_clients.remove(socket))
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void ControlServer::handle(ControlConnection *socket, const QJsonObject &request)
{
    const QString name = request.value(QStringLiteral("cmd")).toString();
    if (const ControlCommand *command = ControlCommands::byRequest(name))
        (this->*command->handle)(socket, request);
    else
        fail(socket, QStringLiteral("unknown command \"%1\"").arg(name));
}

void ControlServer::answerStatus(ControlConnection *socket, const QJsonObject &)
{
    QJsonObject message = success();
    message.insert(QStringLiteral("status"), status());
    reply(socket, message);
}

void ControlServer::answerSuspend(ControlConnection *socket, const QJsonObject &)
{
    setSwitch(socket, false, true);
}

void ControlServer::answerResume(ControlConnection *socket, const QJsonObject &)
{
    setSwitch(socket, false, false);
}

void ControlServer::answerLed(ControlConnection *socket, const QJsonObject &request)
{
    const QJsonValue on = request.value(QStringLiteral("on"));
    if (on.isBool())
        setSwitch(socket, true, on.toBool());
    else
        fail(socket, QStringLiteral("led needs on or off"));
}

void ControlServer::answerBoard(ControlConnection *socket, const QJsonObject &)
{
    readBoard(socket);
}

void ControlServer::answerBoardSet(ControlConnection *socket, const QJsonObject &request)
{
    writeBoard(socket, request);
}

void ControlServer::answerTestReset(ControlConnection *socket, const QJsonObject &request)
{
    test(socket, request, false);
}

void ControlServer::answerTestPower(ControlConnection *socket, const QJsonObject &request)
{
    test(socket, request, true);
}

void ControlServer::reply(ControlConnection *socket, const QJsonObject &message)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    // A client that leaves its replies unread gets no more of them.
    if (socket->bytesToWrite() > ControlProtocol::MaxReplyLength) {
        dropClient(socket);
        return;
    }
    socket->write(ControlProtocol::encode(message));
    it->busy = false;
    it->idle->start();
    // A request that came in meanwhile is waiting in the socket.
    QPointer<ControlConnection> next(socket);
    QTimer::singleShot(0, this, [this, next] {
        if (next)
            readClient(next);
    });
}

void ControlServer::fail(ControlConnection *socket, const QString &error)
{
    reply(socket, ControlProtocol::failure(error));
}

void ControlServer::reject(ControlConnection *socket, const QString &error)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    it->busy = true;
    socket->write(ControlProtocol::encode(ControlProtocol::failure(error)));
    socket->close();
}

QJsonObject ControlServer::status() const
{
    QString model = m_board->model();
    if (m_board->compatibilityMode() && m_board->isConnected())
        model = compatibilityModel().name;
    QJsonValue input;
    const InputReading reading = m_board->input();
    const QString level = m_board->inputLevel();
    switch (reading.kind) {
    case InputReading::Input:
        input = QJsonObject{{QStringLiteral("kind"), QStringLiteral("input")},
                            {QStringLiteral("value"), level}};
        break;
    case InputReading::Output:
        input = QJsonObject{{QStringLiteral("kind"), QStringLiteral("output")},
                            {QStringLiteral("value"), level}};
        break;
    case InputReading::Temperature:
        input = QJsonObject{{QStringLiteral("kind"), QStringLiteral("temperature")},
                            {QStringLiteral("value"), reading.temperatureText()}};
        break;
    case InputReading::None:
        break;
    }
    return {
        {QStringLiteral("port"), orNull(m_board->port())},
        {QStringLiteral("connected"), m_board->isConnected()},
        {QStringLiteral("model"), orNull(model)},
        {QStringLiteral("firmware"), orNull(m_board->firmware())},
        {QStringLiteral("channels"),
         m_board->channels() > 0 ? QJsonValue(m_board->channels()) : QJsonValue()},
        {QStringLiteral("input"), input},
        {QStringLiteral("compatibility_mode"), m_board->compatibilityMode()},
        {QStringLiteral("led"), m_board->led()},
        {QStringLiteral("suspended"), m_board->isSuspended()},
        {QStringLiteral("last_heartbeat"), time(m_heartbeat->lastHeartbeat())},
        {QStringLiteral("last_ack"), time(m_heartbeat->lastAck())},
        {QStringLiteral("heartbeats_sent"), m_heartbeat->heartbeatsSent()},
        {QStringLiteral("acks_received"), m_heartbeat->acksReceived()},
        {QStringLiteral("network"), check(m_heartbeat->networkCheck(), m_heartbeat->networkTarget(),
                                          m_heartbeat->networkOk())},
        {QStringLiteral("process"),
         check(m_heartbeat->processCheck(), m_heartbeat->processName(), m_heartbeat->processOk())},
    };
}

QString ControlServer::boardMissing() const
{
    // A board not identified yet still gets commands on its open port.
    if (m_board->isConnected() || m_board->isPortOpen())
        return QString();
    if (m_board->port().isEmpty())
        return QStringLiteral("no board: no port found");
    return QStringLiteral("no board answers on %1").arg(m_board->port());
}

const BoardModel *ControlServer::settingsModel() const
{
    return m_board->compatibilityMode() ? &compatibilityModel() : m_board->boardModel();
}

QJsonObject ControlServer::boardReply(const BoardSettings &settings) const
{
    const BoardModel *model = settingsModel();
    QJsonArray list;
    for (const BoardParameters::Parameter &p : BoardParameters::parameters()) {
        if (!BoardParameters::offers(*model, p))
            continue;
        list.append(QJsonObject{
            {QStringLiteral("key"), QLatin1String(p.key)},
            {QStringLiteral("value"), BoardParameters::valueText(p.field, settings.field(p.field))},
            {QStringLiteral("description"), QLatin1String(p.description)}});
    }
    QJsonObject message = success();
    message.insert(QStringLiteral("model"), model->name);
    message.insert(QStringLiteral("port"), m_board->port());
    message.insert(QStringLiteral("parameters"), list);
    return message;
}

bool ControlServer::begin(ControlConnection *socket, Operation::Step step)
{
    if (m_operation.step != Operation::None) {
        fail(socket, QStringLiteral("busy: another command is talking to the board"));
        return false;
    }
    const QString missing = boardMissing();
    if (!missing.isEmpty()) {
        fail(socket, missing);
        return false;
    }
    m_operation = Operation();
    m_operation.step = step;
    m_operation.client = socket;
    m_operationTimer->start();
    return true;
}

QJsonObject ControlServer::cannotWrite() const
{
    return ControlProtocol::failure(QStringLiteral("cannot write to %1").arg(m_board->port()));
}

void ControlServer::finish(const QJsonObject &message)
{
    m_operationTimer->stop();
    QPointer<ControlConnection> client = m_operation.client;
    m_operation = Operation();
    if (client)
        reply(client, message);
}

void ControlServer::setSwitch(ControlConnection *socket, bool led, bool on)
{
    if (!begin(socket, Operation::Switch))
        return;
    m_operation.led = led;
    m_operation.on = on;
    m_operation.command = led ? BoardProtocol::led(on) : suspend(on);
    // Nothing is stored before the board has said so (onSwitchReported).
    if (!(led ? m_board->setLed(on) : m_board->setSuspended(on)))
        finish(cannotWrite());
}

void ControlServer::readBoard(ControlConnection *socket)
{
    if (m_board->compatibilityMode()) {
        // Nothing is read from the old board: its reset time is the setting.
        BoardSettings settings;
        settings.t1 = m_board->compatibilityT1();
        reply(socket, boardReply(settings));
        return;
    }
    if (!begin(socket, Operation::Read))
        return;
    if (!settingsModel()) {
        finish(ControlProtocol::failure(QStringLiteral("the board's model is unknown")));
        return;
    }
    if (!m_board->readSettings())
        finish(cannotWrite());
}

void ControlServer::writeBoard(ControlConnection *socket, const QJsonObject &request)
{
    const QJsonArray values = request.value(QStringLiteral("values")).toArray();
    if (values.isEmpty()) {
        fail(socket, QStringLiteral("board set needs KEY=VALUE"));
        return;
    }
    const bool compatibility = m_board->compatibilityMode();
    if (!compatibility && !boardMissing().isEmpty()) {
        fail(socket, boardMissing());
        return;
    }
    const BoardModel *model = settingsModel();
    if (!model) {
        fail(socket, QStringLiteral("the board's model is unknown"));
        return;
    }

    // Everything is checked before anything is sent.
    QVector<QPair<int, int>> changes;
    for (const QJsonValue &value : values) {
        const QString item = value.toString();
        const QString key = item.section(QLatin1Char('='), 0, 0);
        const QString text = item.section(QLatin1Char('='), 1);
        const BoardParameters::Parameter *parameter = BoardParameters::find(key);
        if (!item.contains(QLatin1Char('=')) || !parameter) {
            fail(socket, QStringLiteral("unknown parameter \"%1\"; the parameters are: %2")
                             .arg(key, BoardParameters::keys().join(QStringLiteral(", "))));
            return;
        }
        if (!BoardParameters::offers(*model, *parameter)) {
            fail(socket, QStringLiteral("%1 has no %2; it has: %3")
                             .arg(model->name, key,
                                  BoardParameters::keys(*model).join(QStringLiteral(", "))));
            return;
        }
        for (const auto &change : qAsConst(changes)) {
            if (change.first == parameter->field) {
                fail(socket, QStringLiteral("%1 is given twice").arg(key));
                return;
            }
        }
        const int index = BoardParameters::parseValue(*model, *parameter, text);
        if (index < 0) {
            fail(socket, QStringLiteral("%1 does not offer %2=%3; the values are: %4")
                             .arg(model->name, key, text,
                                  BoardParameters::allowedValues(*model, *parameter)
                                      .join(QStringLiteral(", "))));
            return;
        }
        changes.append({parameter->field, index});
    }

    if (compatibility) {
        // The old board answers nothing: the reset time is written as at
        // start-up and kept in the settings.
        BoardSettings settings;
        settings.t1 = changes.first().second;
        if (!m_board->writeSettings(settings)) {
            reply(socket, cannotWrite());
            return;
        }
        emit compatibilityT1Set(settings.t1);
        QJsonObject message = boardReply(settings);
        message.insert(QStringLiteral("note"),
                       QStringLiteral("the %1 does not confirm writes").arg(model->name));
        reply(socket, message);
        return;
    }

    if (!begin(socket, Operation::ReadForWrite))
        return;
    m_operation.changes = changes;
    // The write carries every field: the others come from the board.
    if (!m_board->readSettings())
        finish(cannotWrite());
}

void ControlServer::test(ControlConnection *socket, const QJsonObject &request, bool power)
{
    if (!request.value(QStringLiteral("confirm")).toBool()) {
        fail(socket, power ? QStringLiteral("test-power presses the PC's power button: it needs "
                                            "a confirmation")
                           : QStringLiteral("test-reset resets the PC: it needs a confirmation"));
        return;
    }
    if (!begin(socket, Operation::Switch))
        return;
    const bool written = power ? m_board->testPower() : m_board->testReset();
    finish(written ? success() : cannotWrite());
}

void ControlServer::onSwitchReported(bool led, bool state)
{
    // Only the board's answer to this very command counts: junk, an "~A"
    // or an earlier exchange's reply decide nothing.
    if (m_operation.step != Operation::Switch || m_operation.command.isEmpty() ||
        !m_operation.written || m_operation.led != led)
        return;
    if (state != m_operation.on) {
        finish(ControlProtocol::failure(
            QStringLiteral("the board answered with the %1 %2")
                .arg(led ? QStringLiteral("LED") : QStringLiteral("clock"))
                .arg(state ? QStringLiteral("on") : QStringLiteral("off"))));
        return;
    }
    QJsonObject message = success();
    message.insert(QStringLiteral("led"), m_board->led());
    message.insert(QStringLiteral("suspended"), m_board->isSuspended());
    const QString note = m_keepNote ? m_keepNote(led, state) : QString();
    if (!note.isEmpty())
        message.insert(QStringLiteral("note"), note);
    finish(message);
}

void ControlServer::onSettingsRead(const BoardSettings &settings)
{
    if (m_operation.step != Operation::Read && m_operation.step != Operation::ReadForWrite)
        return;
    const BoardModel *model = settingsModel();
    if (settings.form == BoardSettings::Invalid ||
        (settings.form == BoardSettings::Short) !=
            (BoardParameters::offeredFields(*model) < BoardSettings::FieldCount)) {
        finish(ControlProtocol::failure(
            QStringLiteral("the board's settings reply does not fit the %1").arg(model->name)));
        return;
    }
    if (m_operation.step == Operation::Read) {
        finish(boardReply(settings));
        return;
    }
    BoardSettings target = settings;
    for (const auto &change : qAsConst(m_operation.changes))
        target.setField(change.first, change.second);
    m_operation.target = target;
    m_operation.step = Operation::Write;
    m_operationTimer->start();
    // Not from inside the board's signal: the board would take the reply
    // being handled for the confirmation of this write.
    QTimer::singleShot(0, this, [this] {
        if (m_operation.step == Operation::Write && !m_board->writeSettings(m_operation.target))
            finish(cannotWrite());
    });
}

void ControlServer::onWriteConfirmed()
{
    if (m_operation.step != Operation::Write)
        return;
    // The board answers a write with what it stored.
    const BoardSettings stored = m_board->settings();
    QStringList differing;
    for (const BoardParameters::Parameter &p : BoardParameters::parameters()) {
        const int wanted = m_operation.target.field(p.field);
        if (BoardParameters::offers(*settingsModel(), p) && wanted >= 0 &&
            stored.field(p.field) != wanted)
            differing << QStringLiteral("%1=%2").arg(
                QLatin1String(p.key), BoardParameters::valueText(p.field, stored.field(p.field)));
    }
    if (differing.isEmpty())
        finish(boardReply(stored));
    else
        finish(ControlProtocol::failure(QStringLiteral("the board stored other values: %1")
                                            .arg(differing.join(QLatin1Char(' ')))));
}

void ControlServer::onWriteFailed()
{
    if (m_operation.step == Operation::Write)
        finish(ControlProtocol::failure(QStringLiteral("the board did not confirm the write")));
}

void ControlServer::onTimeout()
{
    finish(ControlProtocol::failure(
        QStringLiteral("the board did not answer within %1 s").arg(BoardTimeoutMs / 1000)));
}
