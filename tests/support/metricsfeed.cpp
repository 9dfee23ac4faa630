// Publishes one metrics snapshot given on the command line through the real
// MetricsWriter, or, with --loop, keeps publishing new ones as fast as it can
// until it is killed. Links QtCore alone, as a service would.
//
//   tovel3-metricsfeed --dir DIR [--heartbeats N] [--acks N] [--network TARGET]
//       [--network-down] [--process NAME] [--process-down] [--model M] [--firmware F]
//       [--port P] [--suspended] [--disconnected] [--temperature TENTHS] [--loop]

#include "monitor/metricswriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QString valueOptions[] = {"dir",   "heartbeats", "acks", "network",    "process",
                                    "model", "firmware",   "port", "temperature"};
    for (const QString &name : valueOptions)
        parser.addOption({name, name, "value"});
    for (const char *name : {"network-down", "process-down", "suspended", "disconnected", "loop"})
        parser.addOption({QString::fromLatin1(name), QString::fromLatin1(name)});
    parser.process(app);
    if (!parser.isSet("dir")) {
        std::fprintf(stderr, "--dir is required\n");
        return 2;
    }

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    MetricsSnapshot s;
    s.heartbeatsSent = parser.value("heartbeats").toULongLong();
    s.acksReceived = parser.value("acks").toULongLong();
    s.lastHeartbeatMsecs = s.heartbeatsSent ? now : 0;
    s.lastAckMsecs = s.acksReceived ? now : 0;
    s.network = {parser.isSet("network"), parser.value("network"), !parser.isSet("network-down")};
    s.process = {parser.isSet("process"), parser.value("process"), !parser.isSet("process-down")};
    s.model = parser.value("model");
    s.firmware = parser.value("firmware");
    s.port = parser.value("port");
    s.suspended = parser.isSet("suspended");
    s.connected = !parser.isSet("disconnected");
    if (parser.isSet("temperature"))
        s.temperatureTenths = parser.value("temperature").toInt();
    s.startMsecs = now;

    MetricsWriter writer(parser.value("dir"));
    if (!parser.isSet("loop")) {
        writer.update(s, now);
        if (writer.waitForWritten())
            return 0;
        std::fprintf(stderr, "%s\n", qPrintable(writer.errorString()));
        return 1;
    }
    for (qint64 clock = now;; clock += 3000) {
        ++s.heartbeatsSent;
        ++s.acksReceived;
        s.lastHeartbeatMsecs = s.lastAckMsecs = clock;
        if (writer.update(s, clock) == MetricsWriter::Failed)
            return 1;
    }
}
