// The real tovel3d with a simulated board, the network check (ping 127.0.0.1),
// the process check and the metrics file on, beside the least program that
// feeds a board (servicebaseline: QCoreApplication, QSerialPort, 3 s timer),
// both running in the same period:
//   - CPU over an idle window (heartbeats included), as a share of one core;
//   - peak resident memory (VmHWM) of each, and their ratio;
//   - `tovel3ctl status` from start to exit, as a shell user waits for it.
// Writing the metrics file is timed by bench_metrics.
//
//   bench_service [--tovel3d PATH] [--tovel3ctl PATH] [--baseline PATH]
//                 [--idle SECONDS] [--runs N]
//
// One line per figure: "<what>: <value> (goal: <goal>): met|not met".

#include "bench/benchreport.h"
#include "bench/procusage.h"
#include "boardsim/boardsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace
{
using BenchReport::result;
using ProcUsage::cpuTicks;

// Runs the event loop (the simulators live on it) until `done` or the time is up.
bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// Runs a program to its end with its output discarded: its exit code, or -1.
int runQuietly(const QStringList &arguments)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : arguments)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double megabytes(qint64 pid)
{
    return ProcUsage::peakKilobytes(pid) / 1024.0;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString here = QCoreApplication::applicationDirPath();
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption daemonOption("tovel3d", "The tovel3d executable.", "path",
                                          here + "/../tovel3d/tovel3d");
    const QCommandLineOption ctlOption("tovel3ctl", "The tovel3ctl executable.", "path",
                                       here + "/../tovel3ctl/tovel3ctl");
    const QCommandLineOption baselineOption("baseline", "The baseline program.", "path",
                                            here + "/servicebaseline");
    const QCommandLineOption idleOption("idle", "Seconds of the CPU window.", "s", "30");
    const QCommandLineOption runsOption("runs", "tovel3ctl status runs.", "n", "20");
    parser.addOptions({daemonOption, ctlOption, baselineOption, idleOption, runsOption});
    parser.process(app);
    const int idleSeconds = std::max(10, parser.value(idleOption).toInt());
    const int runs = std::max(3, parser.value(runsOption).toInt());
    for (const QCommandLineOption *o : {&daemonOption, &ctlOption, &baselineOption}) {
        if (!QFile::exists(parser.value(*o))) {
            std::fprintf(stderr, "no %s at %s\n", qPrintable(o->names().first()),
                         qPrintable(parser.value(*o)));
            return 2;
        }
    }

    QTemporaryDir dir;
    const QString home = dir.path() + "/home";
    QDir().mkpath(home);
    QDir().mkpath(dir.path() + "/metrics");
    BoardSimulator serviceBoard(BoardSimulator::X2);
    BoardSimulator baselineBoard(BoardSimulator::X2);
    if (!serviceBoard.start(dir.path() + "/board") ||
        !baselineBoard.start(dir.path() + "/baseline-board")) {
        std::fprintf(stderr, "board simulator did not start\n");
        return 2;
    }

    // The process the check watches: a copy of sleep under a name of its own.
    const QString watchedName = QString("tovel3benchsvc%1").arg(QCoreApplication::applicationPid());
    QFile::copy("/bin/sleep", dir.path() + "/" + watchedName);
    QProcess watched;
    watched.start(dir.path() + "/" + watchedName, {"3600"});
    watched.waitForStarted();

    const QString config = dir.path() + "/tovel3.conf";
    {
        QSettings ini(config, QSettings::IniFormat);
        ini.setValue("port", serviceBoard.portPath());
        ini.setValue("monitor", watchedName);
        ini.setValue("monitoron", true);
        ini.setValue("ping/on", true);
        ini.setValue("ping/url", "127.0.0.1");
        ini.setValue("logging/enable", true);
        ini.setValue("metrics/dir", dir.path() + "/metrics");
    }

    // A service's environment: no display, a private home and temp directory.
    QProcessEnvironment env;
    env.insert("PATH", qEnvironmentVariable("PATH"));
    env.insert("HOME", home);
    env.insert("TMPDIR", dir.path());
    env.insert("LANG", "C.UTF-8");
    env.insert("TOVEL3_EXTRA_PORTS", serviceBoard.portPath());
    const QString socket = dir.path() + "/control";

    QProcess service;
    QProcess baseline;
    for (QProcess *p : {&service, &baseline}) {
        p->setProcessEnvironment(env);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->setStandardErrorFile(QProcess::nullDevice()); // the service's debug lines
    }
    service.start(parser.value(daemonOption), {"--config", config, "--socket", socket});
    baseline.start(parser.value(baselineOption), {baselineBoard.portPath()});
    if (!service.waitForStarted() || !baseline.waitForStarted()) {
        std::fprintf(stderr, "could not start the programs\n");
        return 2;
    }
    std::printf("tovel3d beside the baseline: %d s of idle CPU, %d tovel3ctl runs...\n",
                idleSeconds, runs);
    std::fflush(stdout);

    // Past the start and the handshake, then a cycle to settle.
    const bool up = waitUntil(
        [&] {
            return serviceBoard.receivedTexts().count("~G") >= 1 &&
                   baselineBoard.receivedTexts().count("~U") >= 1;
        },
        15000);
    if (!up) {
        std::fprintf(stderr, "tovel3d or the baseline did not feed its board\n");
        return 1;
    }
    waitUntil([] { return false; }, 3000);

    const qint64 before[2] = {cpuTicks(service.processId()), cpuTicks(baseline.processId())};
    const int beatsBefore = serviceBoard.receivedTexts().count("~U");
    QElapsedTimer window;
    window.start();
    waitUntil([] { return false; }, idleSeconds * 1000);
    const double seconds = window.elapsed() / 1000.0;
    const qint64 after[2] = {cpuTicks(service.processId()), cpuTicks(baseline.processId())};
    const int beats = serviceBoard.receivedTexts().count("~U") - beatsBefore;

    // The command as a shell starts it (vfork and exec, as posix_spawn does),
    // from start to exit. Status asks nothing of the board, so the simulators
    // may wait meanwhile.
    const QStringList status{parser.value(ctlOption), "--socket", socket, "status"};
    QProcess check;
    check.start(status.first(), status.mid(1));
    if (!check.waitForFinished(5000) || !check.readAllStandardOutput().contains("Ostrel X2")) {
        std::fprintf(stderr, "tovel3ctl status failed: %s\n",
                     check.readAllStandardError().constData());
        return 1;
    }
    std::vector<double> roundTrips;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const int code = runQuietly(status);
        roundTrips.push_back(t.nsecsElapsed() / 1e6);
        if (code != 0) {
            std::fprintf(stderr, "tovel3ctl status exited with %d\n", code);
            return 1;
        }
        waitUntil([] { return false; }, 50);
    }

    const double peak[2] = {megabytes(service.processId()), megabytes(baseline.processId())};
    const double cpu[2] = {ProcUsage::cpuPercent(before[0], after[0], seconds),
                           ProcUsage::cpuPercent(before[1], after[1], seconds)};
    service.terminate();
    baseline.terminate();
    service.waitForFinished(5000);
    baseline.waitForFinished(5000);
    watched.kill();
    watched.waitForFinished();

    const double ratio = peak[0] / peak[1];
    result("tovel3d peak memory (VmHWM), both checks on",
           QString("%1 MB, baseline %2 MB, %3 x")
               .arg(peak[0], 0, 'f', 1)
               .arg(peak[1], 0, 'f', 1)
               .arg(ratio, 0, 'f', 2),
           "at most 1.3 x the baseline", peak[1] > 0 && ratio <= 1.3);
    result(QString("tovel3d idle CPU over %1 s (%2 heartbeats)").arg(seconds, 0, 'f', 0).arg(beats),
           QString("%1 % of one core, baseline %2 %").arg(cpu[0], 0, 'f', 3).arg(cpu[1], 0, 'f', 3),
           "under 0.2 %", before[0] >= 0 && beats > 0 && cpu[0] < 0.2);
    const double median = BenchReport::median(roundTrips);
    result("tovel3ctl status round trip (median)",
           QString("%1 ms, max %2 ms over %3 runs")
               .arg(median, 0, 'f', 1)
               .arg(*std::max_element(roundTrips.begin(), roundTrips.end()), 0, 'f', 1)
               .arg(runs),
           "under 20 ms", median < 20.0);
    return 0;
}
