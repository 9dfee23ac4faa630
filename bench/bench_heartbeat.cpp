// The heartbeat of the real tovel3 executable with the process check on,
// measured at the simulated board, beside a bare Qt Quick Controls window
// running in the same period:
//   - heartbeat period over at least 20 cycles (board's receive time stamps);
//   - time from the board's "~A" to the window's handler that lights the
//     lamp green (the handler logs "<<" right before it sets the lamp);
//   - CPU over an idle-monitoring window (60 s by default) and peak memory.
//
//   bench_heartbeat [--tovel3 PATH] [--cycles N] [--idle SECONDS]
//
// One line per figure: "<what>: <value> (goal: <goal>): met|not met".

#include "bench/benchreport.h"
#include "bench/procusage.h"
#include "boardsim/boardsimulator.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <unistd.h>
#include <vector>

namespace
{
const char barePage[] = R"(import QtQuick 2.10
import QtQuick.Window 2.2
import QtQuick.Controls 2.3
import QtQuick.Layouts 1.3
import QtQuick.Extras 1.4
import QtQuick.Controls.Material 2.1

ApplicationWindow {
    width: 580
    height: 540
    visible: true
    title: "bare"
    Material.theme: Material.Light
    Material.primary: Material.Indigo
    Material.accent: Material.Indigo
    header: TabBar {
        id: tabBar
        TabButton { text: "Main" }
        TabButton { text: "Settings" }
        TabButton { text: "Application" }
    }
    StackLayout {
        anchors.fill: parent
        currentIndex: tabBar.currentIndex
        Item { StatusIndicator { anchors.centerIn: parent; color: "#2aff00" } }
        Item {}
        Item {}
    }
}
)";

int runBare(int argc, char **argv)
{
    QApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Material"));
    QQmlApplicationEngine engine;
    engine.loadData(QByteArray(barePage));
    return engine.rootObjects().isEmpty() ? 1 : app.exec();
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

using BenchReport::median;
using BenchReport::result;
using ProcUsage::cpuTicks;

double peakMegabytes(qint64 pid)
{
    const qint64 kb = ProcUsage::peakKilobytes(pid);
    return kb < 0 ? -1 : kb / 1024.0;
}

void waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0 && qstrcmp(argv[2], "bare") == 0)
        return runBare(argc, argv);

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption tovel3Option("tovel3", "The tovel3 executable.", "path",
                                    QCoreApplication::applicationDirPath() + "/../tovel3/tovel3");
    QCommandLineOption cyclesOption("cycles", "Heartbeat intervals to measure (at least 20).", "n",
                                    "21");
    QCommandLineOption idleOption("idle", "Seconds of idle monitoring for the CPU figure.", "s",
                                  "60");
    parser.addOptions({tovel3Option, cyclesOption, idleOption});
    parser.process(app);
    const int cycles = std::max(20, parser.value(cyclesOption).toInt());
    const int idleSeconds = std::max(10, parser.value(idleOption).toInt());
    const QString tovel3 = parser.value(tovel3Option);
    if (!QFile::exists(tovel3)) {
        std::fprintf(stderr, "no tovel3 executable at %s (use --tovel3)\n", qPrintable(tovel3));
        return 2;
    }

    QTemporaryDir dir;
    const QString home = dir.path() + "/home";
    for (const char *sub : {"/.config/Brennic", "/.local/share", "/.cache"})
        QDir().mkpath(home + sub);
    QDir().mkpath(dir.path() + "/run");
    QFile::setPermissions(dir.path() + "/run",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // The process the check watches: a copy of sleep under a name of its own.
    const QString watchedName =
        QStringLiteral("tovel3benchwatch%1").arg(QCoreApplication::applicationPid());
    QFile::copy("/bin/sleep", dir.path() + "/" + watchedName);
    QFile::setPermissions(dir.path() + "/" + watchedName, QFile::ReadOwner | QFile::ExeOwner);
    QProcess watched;
    watched.start(dir.path() + "/" + watchedName, {"3600"});
    watched.waitForStarted();
    {
        QSettings store(home + "/.config/Brennic/Tovel3.conf", QSettings::IniFormat);
        store.setValue("monitor", watchedName);
        store.setValue("monitoron", true);
        store.sync();
    }

    BoardSimulator board(BoardSimulator::X2);
    if (!board.start(dir.path() + "/board")) {
        std::fprintf(stderr, "board simulator did not start\n");
        return 2;
    }
    std::vector<qint64> acks;
    QObject::connect(&board, &BoardSimulator::replySent, [&](const QByteArray &bytes) {
        if (bytes.startsWith("~A"))
            acks.push_back(now());
    });

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_CACHE_HOME", home + "/.cache");
    env.insert("XDG_RUNTIME_DIR", dir.path() + "/run");
    env.insert("TMPDIR", dir.path()); // keeps the single-instance guard apart
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_QUICK_BACKEND", "software");
    env.insert("TOVEL3_EXTRA_PORTS", board.portPath());
    env.insert("QT_MESSAGE_PATTERN", "%{time yyyy-MM-ddTHH:mm:ss.zzz}|%{message}");

    // "<<~A" lines of the program, by their time stamps
    std::vector<qint64> lampGreen;
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&program, &QProcess::readyRead, [&] {
        while (program.canReadLine()) {
            const QByteArray line = program.readLine();
            const int bar = line.indexOf('|');
            if (bar > 0 && line.mid(bar + 1).startsWith("<<~A")) {
                const QDateTime t = QDateTime::fromString(
                    QString::fromLatin1(line.left(bar)), QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
                lampGreen.push_back(t.toMSecsSinceEpoch());
            }
        }
    });
    QProcess bare;
    bare.setProcessEnvironment(env);
    bare.setProcessChannelMode(QProcess::ForwardedErrorChannel);

    program.start(tovel3, QStringList());
    bare.start(QCoreApplication::applicationFilePath(), {"--child", "bare"});
    if (!program.waitForStarted() || !bare.waitForStarted()) {
        std::fprintf(stderr, "could not start the programs\n");
        return 2;
    }
    std::printf("measuring %d heartbeat intervals and %d s of idle monitoring...\n", cycles,
                idleSeconds);
    std::fflush(stdout);

    // Past the start and the identification, both settle, then the CPU window.
    waitUntil([&] { return board.receivedTexts().count("~G") >= 1; }, 15000);
    QEventLoop settle;
    QTimer::singleShot(3000, &settle, &QEventLoop::quit);
    settle.exec();
    const qint64 cpuStart[2] = {cpuTicks(program.processId()), cpuTicks(bare.processId())};
    QElapsedTimer window;
    window.start();
    const qint64 firstCounted = now();
    auto heartbeatsSince = [&](qint64 from) {
        std::vector<qint64> times;
        for (const BoardSimulator::Command &c : board.received()) {
            if (c.text == "~U" && c.msecs >= from)
                times.push_back(c.msecs);
        }
        return times;
    };
    waitUntil([&] { return window.elapsed() >= idleSeconds * 1000; }, (idleSeconds + 5) * 1000);
    const double seconds = window.elapsed() / 1000.0;
    const qint64 cpuEnd[2] = {cpuTicks(program.processId()), cpuTicks(bare.processId())};
    waitUntil([&] { return int(heartbeatsSince(firstCounted).size()) >= cycles + 1; },
              (cycles + 3) * 3200);

    const double peak[2] = {peakMegabytes(program.processId()), peakMegabytes(bare.processId())};
    const std::vector<qint64> beats = heartbeatsSince(firstCounted);
    program.terminate();
    bare.terminate();
    program.waitForFinished(5000);
    bare.waitForFinished(5000);
    watched.kill();
    watched.waitForFinished();

    std::vector<double> gaps, deviations;
    for (size_t i = 1; i < beats.size(); ++i) {
        gaps.push_back(double(beats[i] - beats[i - 1]));
        deviations.push_back(std::fabs(gaps.back() - 3000.0));
    }
    const double period = median(gaps);
    const double worst =
        deviations.empty() ? NAN : *std::max_element(deviations.begin(), deviations.end());
    result("heartbeat period, process check on",
           QString("median %1 ms over %2 intervals (min %3, max %4)")
               .arg(period, 0, 'f', 0)
               .arg(gaps.size())
               .arg(gaps.empty() ? 0 : *std::min_element(gaps.begin(), gaps.end()), 0, 'f', 0)
               .arg(gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end()), 0, 'f', 0),
           "median 3000 +- 20 ms", int(gaps.size()) >= 20 && std::fabs(period - 3000.0) <= 20.0);
    result("heartbeat period, worst deviation", QString("%1 ms").arg(worst, 0, 'f', 0),
           "within +- 100 ms", int(gaps.size()) >= 20 && worst <= 100.0);

    std::vector<double> latencies;
    size_t next = 0;
    for (qint64 ack : acks) {
        while (next < lampGreen.size() && lampGreen[next] < ack - 1)
            ++next;
        if (next < lampGreen.size())
            latencies.push_back(double(std::max<qint64>(0, lampGreen[next] - ack)));
    }
    const double worstLatency =
        latencies.empty() ? NAN : *std::max_element(latencies.begin(), latencies.end());
    result("board's \"~A\" to the lamp turning green",
           QString("median %1 ms, worst %2 ms over %3 replies")
               .arg(median(latencies), 0, 'f', 0)
               .arg(worstLatency, 0, 'f', 0)
               .arg(latencies.size()),
           "worst under 50 ms", !latencies.empty() && worstLatency < 50.0);

    const double cpu[2] = {ProcUsage::cpuPercent(cpuStart[0], cpuEnd[0], seconds),
                           ProcUsage::cpuPercent(cpuStart[1], cpuEnd[1], seconds)};
    result(QString("idle-monitoring CPU over %1 s").arg(seconds, 0, 'f', 0),
           QString("tovel3 %1 % of one core, bare window %2 %")
               .arg(cpu[0], 0, 'f', 2)
               .arg(cpu[1], 0, 'f', 2),
           "tovel3 under 1 %", cpuStart[0] >= 0 && cpu[0] < 1.0);
    result(
        "peak memory (VmHWM)",
        QString("tovel3 %1 MB, bare window %2 MB").arg(peak[0], 0, 'f', 1).arg(peak[1], 0, 'f', 1),
        "reported beside the bare window", peak[0] > 0);
    return 0;
}
