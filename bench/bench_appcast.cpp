// Times reading an appcast of about 1 MiB (a long release history with
// HTML notes, several enclosures per item and signatures) and choosing the
// release to offer. Goal: under 50 ms per feed.
//
//   bench_appcast [--size BYTES] [--runs N]

#include "update/appcastparser.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{
QByteArray makeFeed(qint64 size)
{
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                      "<rss version=\"2.0\" "
                      "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
                      "<channel><title>Tovel3</title>\n";
    const QByteArray signature = QByteArray(64, 'S').toBase64();
    for (int i = 0; feed.size() < size; ++i) {
        const QByteArray v = "3." + QByteArray::number(i / 100) + "." + QByteArray::number(i % 100);
        feed += "<item><title>Version " + v +
                "</title>\n"
                "<pubDate>Tue, 14 Oct 2025 08:30:00 +0000</pubDate>\n"
                "<sparkle:version>" +
                v +
                "</sparkle:version>\n"
                "<sparkle:shortVersionString>" +
                v +
                "</sparkle:shortVersionString>\n"
                "<description><![CDATA[<h2>What's new in " +
                v +
                "</h2><ul>"
                "<li>The heartbeat waits for the process check to finish.</li>"
                "<li>Journal rotation keeps <b>every</b> line.</li>"
                "<li>The device settings page shows the board's timers per model.</li>"
                "</ul>]]></description>\n"
                "<enclosure url=\"https://update.example/tovel3-" +
                v +
                "-setup.exe\" sparkle:os=\"windows\" length=\"3932160\" "
                "type=\"application/octet-stream\" sparkle:edSignature=\"" +
                signature +
                "\"/>\n"
                "<enclosure url=\"https://update.example/tovel3-" +
                v +
                "-x86_64.AppImage\" sparkle:os=\"linux\" length=\"4194304\" "
                "type=\"application/octet-stream\" sparkle:edSignature=\"" +
                signature +
                "\"/>\n"
                "</item>\n";
    }
    feed += "</channel></rss>\n";
    return feed;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({"size", "Feed size in bytes.", "bytes", QString::number(1024 * 1024)});
    cli.addOption({"runs", "Number of timed runs.", "n", "30"});
    cli.process(app);
    const qint64 size = cli.value("size").toLongLong();
    const int runs = qMax(1, cli.value("runs").toInt());
    const double goalMs = 50.0;

    const QByteArray feed = makeFeed(size);
    std::vector<double> times;
    int items = 0;
    QString offered;
    for (int r = 0; r < runs + 1; ++r) {
        QElapsedTimer clock;
        clock.start();
        AppcastParser parser;
        if (!parser.parse(feed)) {
            std::fprintf(stderr, "feed rejected: %s\n", qPrintable(parser.errorString()));
            return 1;
        }
        const auto release = parser.newestFor("linux", "3.3.4");
        const double ms = clock.nsecsElapsed() / 1e6;
        items = parser.items().size();
        offered = release ? release->version : QString("none");
        if (r > 0) // the first run warms the caches
            times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("appcast parse: %.2f MiB, %d items, offers %s\n", feed.size() / 1048576.0, items,
                qPrintable(offered));
    std::printf("  runs %d: min %.2f ms, median %.2f ms, max %.2f ms\n", runs, times.front(),
                median, times.back());
    std::printf("  goal: median under %.0f ms per feed: %s\n", goalMs,
                median < goalMs ? "met" : "not met");
    return 0;
}
