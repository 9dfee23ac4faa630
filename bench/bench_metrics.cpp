// Times one MetricsWriter::update() as the heartbeat cycle calls it: once with
// a new heartbeat (compare, render, hand over) and once with nothing changed.
// Goal: the cycle pays under 1 ms at the median. Also shown: how long the
// writer thread then takes to put the file in place (write, sync, rename).
//
//   bench_metrics [--dir DIR] [--runs N]
//
// DIR defaults to a fresh temporary directory; pass the node exporter's
// directory's file system (e.g. a directory under /var/lib) to time that disk.

#include "bench/benchreport.h"
#include "monitor/metricswriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({"dir", "Directory to write tovel3.prom into.", "dir"});
    cli.addOption({"runs", "Timed calls of each kind.", "n", "500"});
    cli.process(app);
    const int runs = qMax(1, cli.value("runs").toInt());
    QTemporaryDir scratch(cli.isSet("dir") ? cli.value("dir") + "/bench-XXXXXX" : QString());
    if (!scratch.isValid()) {
        std::fprintf(stderr, "cannot create a directory to write into\n");
        return 1;
    }

    MetricsSnapshot s;
    s.network = {true, "192.168.1.1", true};
    s.process = {true, "nginx", true};
    s.model = "Ostrel X2";
    s.firmware = "3.1";
    s.port = "/dev/ttyACM0";
    s.connected = true;
    s.temperatureTenths = 312;
    s.startMsecs = 1700000000000;
    qint64 clock = s.startMsecs;

    MetricsWriter writer(scratch.path());
    std::vector<double> changed, unchanged, inPlace;
    for (int i = 0; i < runs + 1; ++i) {
        clock += 3000;
        ++s.heartbeatsSent;
        ++s.acksReceived;
        s.lastHeartbeatMsecs = clock;
        s.lastAckMsecs = clock + 40;
        QElapsedTimer timer;
        timer.start();
        const MetricsWriter::Result wrote = writer.update(s, clock);
        const double writeUs = timer.nsecsElapsed() / 1e3;
        timer.restart();
        const MetricsWriter::Result kept = writer.update(s, clock + 1);
        const double keepUs = timer.nsecsElapsed() / 1e3;
        const bool placed = writer.waitForWritten();
        const double placedUs = timer.nsecsElapsed() / 1e3;
        if (wrote != MetricsWriter::Written || kept != MetricsWriter::Unchanged || !placed) {
            std::fprintf(stderr, "update failed: %s\n", qPrintable(writer.errorString()));
            return 1;
        }
        if (i > 0) { // the first call creates the file and warms the caches
            changed.push_back(writeUs);
            unchanged.push_back(keepUs);
            inPlace.push_back(writeUs + placedUs);
        }
    }
    std::sort(changed.begin(), changed.end());
    std::printf("metrics update into %s, %d calls of each kind, file of %d bytes:\n"
                "  handed over: min %.1f us, max %.1f us\n"
                "  in place on the writer thread (write, sync, rename), median %.0f us\n",
                qPrintable(scratch.path()), runs, int(MetricsWriter::render(s).size()),
                changed.front(), changed.back(), BenchReport::median(inPlace));
    const double medianWrite = BenchReport::median(changed);
    const double medianKeep = BenchReport::median(unchanged);
    BenchReport::result("metrics update, values changed (median)",
                        QString::number(medianWrite, 'f', 1) + " us", "under 1000 us",
                        medianWrite < 1000);
    BenchReport::result("metrics update, nothing changed (median)",
                        QString::number(medianKeep, 'f', 1) + " us", "under 1000 us",
                        medianKeep < 1000);
    return 0;
}
