// tovel3ctl, run as a process, against a ControlServer driving a real Board
// on the simulator: what each subcommand sends to the board, what it prints
// and its exit code; switches that count only on the board's own report;
// commands before any heartbeat; values a model does not offer refused before
// anything is sent; who may connect; and clients that send garbage, hang,
// never read their answers or crowd.

#include "control/controlserver.h"
#include "monitor/heartbeat.h"
#include "support/boardrig.h"
#include "support/testenvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

Q_DECLARE_METATYPE(BoardSimulator::Model)
Q_DECLARE_METATYPE(ControlServer::Access)

namespace
{
struct Result {
    int code = -1;
    QString out;
    QString err;
};

// tovel3ctl with `arguments`, run through `prefix` (e.g. setpriv) if given,
// while this event loop keeps serving.
Result ctl(const QStringList &arguments, const QStringList &prefix = {})
{
    const QString program = qEnvironmentVariable("TOVEL3CTL_BIN");
    QProcess p;
    if (prefix.isEmpty())
        p.start(program, arguments);
    else
        p.start(prefix.first(), prefix.mid(1) + QStringList{program} + arguments);
    if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000))
        p.kill();
    p.waitForFinished();
    Result r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The shared rig with the cycle (not running) and a control server on a
// socket of its own; identified and fed once (the handshake answered), only
// identified, or neither.
struct Rig : BoardRig {
    enum Start { Fed, Identified, Unidentified };

    explicit Rig(BoardSimulator::Model model, Start start = Fed)
        : BoardRig(model)
    {
        socket = dir.filePath(QStringLiteral("control"));
        QObject::connect(&board, &Board::ledConfirmed,
                         [this](bool on) { stored << QStringLiteral("led=%1").arg(on); });
        QObject::connect(&board, &Board::suspendConfirmed,
                         [this](bool on) { stored << QStringLiteral("suspend=%1").arg(on); });
        QObject::connect(&server, &ControlServer::compatibilityT1Set,
                         [this](int t1) { stored << QStringLiteral("t1=%1").arg(t1); });
        board.setCompatibilityMode(model == BoardSimulator::LegacyS);
        bool unanswered = false; // both asks for the identity
        if (start == Unidentified) {
            sim.setSilent(true);
            board.setPort(sim.portPath());
            unanswered = QTest::qWaitFor([this] { return received("~I") == 2; }, 3000);
            sim.setSilent(false);
        }
        ok = started && (start == Unidentified ? unanswered : identify(start == Fed)) &&
             server.listen(socket);
        sim.clearReceived();
    }

    Heartbeat heartbeat{&board};
    ControlServer server{&board, &heartbeat};
    QString socket;
    QStringList stored; // what the board confirmed or the server asked its owner to keep
    bool ok = false;
};

// One request line on a raw connection; the reply line, empty if none came.
QByteArray rawReply(QLocalSocket &socket)
{
    if (!QTest::qWaitFor([&] { return socket.canReadLine(); }, 3000))
        return QByteArray();
    return socket.readLine().trimmed();
}
} // namespace

class TestControl : public QObject
{
    Q_OBJECT

private:
    std::map<BoardSimulator::Model, std::unique_ptr<Rig>> m_rigs;

    Rig *rig(BoardSimulator::Model model)
    {
        auto &slot = m_rigs[model];
        if (!slot)
            slot = std::make_unique<Rig>(model);
        return slot->ok ? slot.get() : nullptr;
    }

private slots:
    void commands_data()
    {
        QTest::addColumn<BoardSimulator::Model>("model");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("says"); // on stdout or stderr

        using L = QList<QByteArray>;
        const auto X2 = BoardSimulator::X2;
        const auto S2 = BoardSimulator::S2;
        const auto S = BoardSimulator::LegacyS;
        QTest::newRow("suspend") << X2 << QStringList{"suspend"} << 0 << L{"~P1"}
                                 << QStringList{"suspend=1"} << "suspended";
        QTest::newRow("resume") << X2 << QStringList{"resume"} << 0 << L{"~P0"}
                                << QStringList{"suspend=0"} << "resumed";
        QTest::newRow("led off") << X2 << QStringList{"led", "off"} << 0 << L{"~L0"}
                                 << QStringList{"led=0"} << "LED off";
        QTest::newRow("led on") << X2 << QStringList{"led", "on"} << 0 << L{"~L1"}
                                << QStringList{"led=1"} << "LED on";
        QTest::newRow("board") << X2 << QStringList{"board"} << 0 << L{"~F"} << QStringList()
                               << "reset-time=5min";
        QTest::newRow("board set")
            << X2 << QStringList{"board", "set", "reset-time=10min", "ch1=power"} << 0
            << L{"~F", "~WA2425220346"} << QStringList() << "ch1=power";
        QTest::newRow("time above the list")
            << X2 << QStringList{"board", "set", "reset-time=20min"} << 1 << L{} << QStringList()
            << "0min, 1min, 2min, 3min, 4min, 5min, 6min, 7min, 8min, 9min, 10min, 11min, "
               "12min, 13min, 14min, 15min";
        QTest::newRow("power hold above 10 s")
            << X2 << QStringList{"board", "set", "power-hold=11s"} << 1 << L{} << QStringList()
            << "9s, 10s";
        QTest::newRow("unknown word")
            << X2 << QStringList{"board", "set", "ch1=reset", "input=humidity"} << 1 << L{}
            << QStringList() << "off, input, output, temp";
        QTest::newRow("unknown key") << X2 << QStringList{"board", "set", "colour=red"} << 1 << L{}
                                     << QStringList() << "reset-time, reset-hold";
        QTest::newRow("key twice") << X2 << QStringList{"board", "set", "ch2=off", "ch2=reset"} << 1
                                   << L{} << QStringList() << "ch2 is given twice";
        QTest::newRow("no value") << X2 << QStringList{"board", "set", "reset-time"} << 2 << L{}
                                  << QStringList() << "KEY=VALUE";
        QTest::newRow("test-reset unconfirmed")
            << X2 << QStringList{"test-reset"} << 1 << L{} << QStringList() << "add --yes";
        QTest::newRow("test-power unconfirmed")
            << X2 << QStringList{"test-power"} << 1 << L{} << QStringList() << "add --yes";
        QTest::newRow("test-reset") << X2 << QStringList{"test-reset", "--yes"} << 0 << L{"~T1"}
                                    << QStringList() << "reset requested";
        QTest::newRow("test-power") << X2 << QStringList{"test-power", "--yes"} << 0 << L{"~T2"}
                                    << QStringList() << "hard reset requested";
        QTest::newRow("unknown command")
            << X2 << QStringList{"reboot"} << 2 << L{} << QStringList() << "unknown command";
        QTest::newRow("led without state")
            << X2 << QStringList{"led"} << 2 << L{} << QStringList() << "on or off";

        QTest::newRow("S2 board") << S2 << QStringList{"board"} << 0 << L{"~F"} << QStringList()
                                  << "reset-hold=200ms";
        QTest::newRow("S2 set") << S2 << QStringList{"board", "set", "reset-hold=300ms"} << 0
                                << L{"~F", "~W53"} << QStringList() << "reset-hold=300ms";
        QTest::newRow("S2 has no hard reset")
            << S2 << QStringList{"board", "set", "reset-time=3min", "power-hold=4s"} << 1 << L{}
            << QStringList() << "Ostrel S2 has no power-hold; it has: reset-time, reset-hold";

        QTest::newRow("Ostrel S board")
            << S << QStringList{"board"} << 0 << L{} << QStringList() << "reset-time=5min";
        QTest::newRow("Ostrel S set") << S << QStringList{"board", "set", "reset-time=7min"} << 0
                                      << L{"~W7\n"} << QStringList{"t1=7"} << "does not confirm";
        QTest::newRow("Ostrel S above 9 min")
            << S << QStringList{"board", "set", "reset-time=12min"} << 1 << L{} << QStringList()
            << "7min, 8min, 9min";
    }

    void commands()
    {
        QFETCH(BoardSimulator::Model, model);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QStringList, stored);
        QFETCH(QString, says);

        Rig *r = rig(model);
        QVERIFY(r);
        r->sim.clearReceived();
        r->stored.clear();
        const Result result = ctl(QStringList{"--socket", r->socket} + arguments);
        QVERIFY2(result.code == exitCode, qPrintable(result.out + result.err));
        QVERIFY2((result.out + result.err).contains(says), qPrintable(result.out + result.err));
        QTest::qWait(100); // anything sent late would arrive now
        QCOMPARE(r->sim.receivedTexts(), sent);
        QCOMPARE(r->stored, stored);
    }

    // A switch succeeds, and is stored, only on the board's own report of
    // the state asked for.
    void switchNeedsTheBoardsWord_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("answer"); // the board's, to the command
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("suspend confirmed")
            << QStringList{"suspend"} << QByteArray("~P1\n") << 0 << QStringList{"suspend=1"};
        QTest::newRow("suspend refused")
            << QStringList{"suspend"} << QByteArray("~P0\n") << 1 << QStringList();
        QTest::newRow("suspend, acknowledgement only")
            << QStringList{"suspend"} << QByteArray("~A\n") << 1 << QStringList();
        QTest::newRow("suspend, no answer")
            << QStringList{"suspend"} << QByteArray() << 1 << QStringList();
        QTest::newRow("resume, junk")
            << QStringList{"resume"} << QByteArray("~Px\n") << 1 << QStringList();
        QTest::newRow("LED on refused")
            << QStringList{"led", "on"} << QByteArray("~L0\n") << 1 << QStringList();
    }

    void switchNeedsTheBoardsWord()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, answer);
        QFETCH(int, exitCode);
        QFETCH(QStringList, stored);
        Rig *r = rig(BoardSimulator::X2);
        QVERIFY(r);
        r->stored.clear();
        r->sim.setSilent(true);
        const QMetaObject::Connection c = connect(&r->sim, &BoardSimulator::commandReceived, this,
                                                  [&] { r->sim.sendRaw(answer); });
        const Result result = ctl(QStringList{"--socket", r->socket} + arguments);
        disconnect(c);
        r->sim.setSilent(false);
        QVERIFY2(result.code == exitCode, qPrintable(result.out + result.err));
        QCOMPARE(r->stored, stored);
    }

    // Before any heartbeat (a check failing since the start), a board on an
    // open port is known and takes commands, identified or not.
    void commandsBeforeAnyHeartbeat_data()
    {
        QTest::addColumn<int>("start");
        QTest::newRow("identified") << int(Rig::Identified);
        QTest::newRow("not identified") << int(Rig::Unidentified);
    }

    void commandsBeforeAnyHeartbeat()
    {
        QFETCH(int, start);
        Rig r(BoardSimulator::X2, Rig::Start(start));
        QVERIFY(r.ok);
        const Result result = ctl({"--socket", r.socket, "suspend"});
        QVERIFY2(result.code == 0 && result.out.contains("suspended"),
                 qPrintable(result.out + result.err));
        QCOMPARE(r.stored, QStringList{"suspend=1"});
        QCOMPARE(r.sim.receivedTexts(), QList<QByteArray>{"~P1"});
    }

    void status()
    {
        Rig *r = rig(BoardSimulator::X2);
        QVERIFY(r);
        Heartbeat &h = r->heartbeat;
        h.setInterval(200);
        h.setNetworkCheck(true);
        h.setNetworkTarget(QStringLiteral("127.0.0.1"));
        h.setProcessCheck(true);
        h.setProcessName(QStringLiteral("tst_control"));
        h.start();
        QTRY_VERIFY_WITH_TIMEOUT(h.acksReceived() >= 2, 10000);
        h.stop();

        const Result json = ctl({"--socket", r->socket, "status", "--json"});
        QCOMPARE(json.code, 0);
        const QJsonObject s = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(s.value("port").toString(), r->board.port());
        QCOMPARE(s.value("model").toString(), QStringLiteral("Ostrel X2"));
        QCOMPARE(s.value("firmware").toString(), QStringLiteral("3.1"));
        QCOMPARE(s.value("suspended").toBool(), r->board.isSuspended());
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (const char *key : {"last_heartbeat", "last_ack"}) {
            const QString text = s.value(key).toString();
            QVERIFY2(text.endsWith('Z'), qPrintable(text));
            const QDateTime t = QDateTime::fromString(text, Qt::ISODate);
            QVERIFY2(t.isValid() && qAbs(t.toMSecsSinceEpoch() - now) < 60000, qPrintable(text));
        }
        QCOMPARE(s.value("network").toObject(),
                 (QJsonObject{{"enabled", true}, {"target", "127.0.0.1"}, {"ok", true}}));
        QCOMPARE(s.value("process").toObject(),
                 (QJsonObject{{"enabled", true}, {"target", "tst_control"}, {"ok", true}}));

        const Result human = ctl({"--socket", r->socket, "status"});
        QCOMPARE(human.code, 0);
        QVERIFY2(human.out.contains("Ostrel X2") &&
                     human.out.contains(s.value("last_ack").toString()) &&
                     human.out.contains("127.0.0.1, passing"),
                 qPrintable(human.out));
        h.setNetworkCheck(false);
        h.setProcessCheck(false);
    }

    void noInstance()
    {
        QTemporaryDir dir;
        const QString absent = dir.filePath("absent");
        QCOMPARE(ctl({"--socket", absent, "status"}).code, 3);

        // The socket file a killed instance leaves behind.
        const QByteArray stale = QFile::encodeName(dir.filePath("stale"));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, stale.constData(), sizeof address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
        const Result r = ctl({"--socket", QString::fromLocal8Bit(stale), "suspend"});
        QCOMPARE(r.code, 3);
        QVERIFY(r.err.contains("no running"));

        // A new server takes the stale name; a second one leaves a live socket alone.
        Rig *rig = this->rig(BoardSimulator::X2);
        QVERIFY(rig);
        ControlServer first(&rig->board, &rig->heartbeat);
        QVERIFY2(first.listen(QString::fromLocal8Bit(stale)), qPrintable(first.errorString()));
        ControlServer second(&rig->board, &rig->heartbeat);
        QVERIFY(!second.listen(QString::fromLocal8Bit(stale)));
        QVERIFY(second.errorString().contains("another instance"));
        QCOMPARE(ctl({"--socket", QString::fromLocal8Bit(stale), "status"}).code, 0);
        first.close();
        QVERIFY(!QFile::exists(QString::fromLocal8Bit(stale)));
    }

    void access_data()
    {
        QTest::addColumn<ControlServer::Access>("access");
        QTest::addColumn<QStringList>("runAs"); // setpriv's identity options
        QTest::addColumn<int>("exitCode");

        const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups"};
        const QStringList daemonGroup{"--reuid=65534", "--regid=1", "--clear-groups"};
        QTest::newRow("desktop socket, another user") << ControlServer::UserOnly << nobody << 1;
        QTest::newRow("service socket, outside its group")
            << ControlServer::Group << daemonGroup << 1;
        QTest::newRow("service socket, member of its group")
            << ControlServer::Group << QStringList{"--reuid=65534", "--regid=1", "--groups=65534"}
            << 0;
    }

    void access()
    {
        if (::geteuid() != 0)
            QSKIP("running as another user needs root");
        QFETCH(ControlServer::Access, access);
        QFETCH(QStringList, runAs);
        QFETCH(int, exitCode);

        Rig *r = rig(BoardSimulator::X2);
        QVERIFY(r);
        // The test's temporary tree is closed to other users: a directory
        // they may pass, so that only the socket decides.
        QTemporaryDir dir(QStringLiteral("/tmp/tovel3-control-XXXXXX"));
        ::chmod(QFile::encodeName(dir.path()).constData(), 0711);
        ControlServer server(&r->board, &r->heartbeat);
        const QString path = dir.filePath("access");
        QVERIFY2(server.listen(path, access, access == ControlServer::Group ? "nogroup" : ""),
                 qPrintable(server.errorString()));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), access == ControlServer::Group ? 0660 : 0600);
        if (access == ControlServer::Group)
            QCOMPARE(int(st.st_gid), 65534);

        const Result result = ctl({"--socket", path, "status"}, QStringList{"setpriv"} + runAs);
        QVERIFY2(result.code == exitCode, qPrintable(result.out + result.err));
        if (exitCode == 1)
            QVERIFY2(result.err.contains("permission denied"), qPrintable(result.err));
    }

    void garbage_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        QTest::newRow("not JSON") << QByteArray("hello\n") << "not a request";
        QTest::newRow("JSON, not an object") << QByteArray("[1, 2]\n") << "not a request";
        QTest::newRow("endless line") << QByteArray(100000, 'x') << "request too long";
        QTest::newRow("binary") << QByteArray("\0\xff\x01\n", 4) << "not a request";
    }

    void garbage()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        Rig *r = rig(BoardSimulator::X2);
        QVERIFY(r);
        r->sim.clearReceived();
        QLocalSocket s;
        s.connectToServer(r->socket);
        QVERIFY(s.waitForConnected(1000));
        s.write(bytes);
        const QJsonObject reply = QJsonDocument::fromJson(rawReply(s)).object();
        QCOMPARE(reply.value("ok").toBool(true), false);
        QCOMPARE(reply.value("error").toString(), error);
        QTRY_COMPARE(s.state(), QLocalSocket::UnconnectedState);
        QTRY_COMPARE(r->server.connectionCount(), 0);
        QVERIFY(r->sim.receivedTexts().isEmpty());
    }

    void unreadReplies()
    {
        // A client that keeps asking and never reads the answers is dropped
        // once they pile up, well before its idle time runs out.
        Rig *r = rig(BoardSimulator::X2);
        QVERIFY(r);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(r->socket).constData(),
                 sizeof address.sun_path);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QTRY_COMPARE(r->server.connectionCount(), 1);
        const QByteArray request = R"({"cmd":"status"})"
                                   "\n";
        QElapsedTimer t;
        t.start();
        while (r->server.connectionCount() > 0 && t.elapsed() < 5000) {
            if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) < 0)
                QTest::qWait(5);
        }
        ::close(fd);
        QCOMPARE(r->server.connectionCount(), 0);
        QCOMPARE(ctl({"--socket", r->socket, "status"}).code, 0);
    }

    void crowdAndIdle()
    {
        Rig *r = rig(BoardSimulator::X2);
        QVERIFY(r);
        std::vector<std::unique_ptr<QLocalSocket>> crowd;
        for (int i = 0; i <= ControlServer::MaxConnections; ++i) {
            crowd.push_back(std::make_unique<QLocalSocket>());
            crowd.back()->connectToServer(r->socket);
            QVERIFY(crowd.back()->waitForConnected(1000));
        }
        QLocalSocket &extra = *crowd.back();
        QVERIFY(rawReply(extra).contains("too many connections"));
        QTRY_COMPARE(extra.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(r->server.connectionCount(), int(ControlServer::MaxConnections));

        // A second board command while one waits for the board is refused.
        r->sim.setReplyDelay(600);
        crowd.front()->write(R"({"cmd":"board"})"
                             "\n");
        QTRY_VERIFY(r->sim.receivedTexts().contains("~F"));
        crowd.at(1)->write(R"({"cmd":"suspend"})"
                           "\n");
        QVERIFY(rawReply(*crowd.at(1)).contains("busy"));
        QVERIFY(rawReply(*crowd.front()).contains("reset-time"));
        r->sim.setReplyDelay(0);

        // Clients that never speak again are dropped.
        r->server.setIdleTimeout(300);
        crowd.clear();
        QLocalSocket idle;
        idle.connectToServer(r->socket);
        QVERIFY(idle.waitForConnected(1000));
        QTRY_COMPARE_WITH_TIMEOUT(idle.state(), QLocalSocket::UnconnectedState, 3000);
        r->server.setIdleTimeout(ControlServer::DefaultIdleTimeoutMs);
        QCOMPARE(ctl({"--socket", r->socket, "status"}).code, 0);
    }

    void cleanupTestCase() { m_rigs.clear(); }
};

TOVEL3_TEST_MAIN(TestControl)
#include "tst_control.moc"
