// Times the process enumeration of the process list and the process liveness
// check, for this machine's processes and with a crowd of extra processes,
// beside the time `ps -e` takes to list the same processes.
//
//   bench_monitor [--crowd N] [--runs N]

#include "bench/benchreport.h"
#include "monitor/processwatcher.h"
#include "window/systemprocesslistmodel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace
{
constexpr int maxCrowd = 4096;
pid_t crowd[maxCrowd];
volatile sig_atomic_t crowdSize = 0;

void killCrowd()
{
    for (int i = 0; i < crowdSize; ++i)
        ::kill(crowd[i], SIGKILL);
    for (int i = 0; i < crowdSize; ++i)
        ::waitpid(crowd[i], nullptr, 0);
    crowdSize = 0;
}

void onSignal(int)
{
    for (int i = 0; i < crowdSize; ++i)
        ::kill(crowd[i], SIGKILL);
    _exit(130);
}

bool spawnCrowd(const QString &program, int count)
{
    const QByteArray path = QFile::encodeName(program);
    char *argv[] = {const_cast<char *>(path.constData()), const_cast<char *>("600"), nullptr};
    for (int i = 0; i < count && crowdSize < maxCrowd; ++i) {
        pid_t pid = 0;
        if (posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, environ) != 0)
            return false;
        crowd[crowdSize] = pid;
        crowdSize = crowdSize + 1;
    }
    return true;
}

using BenchReport::median;

double elapsedMs(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

struct Figures {
    int processes = 0;
    double enumeration = 0;
    double reload = 0;
    double ps = 0;
    int psProcesses = 0;
};

Figures measureList(int runs)
{
    Figures f;
    std::vector<double> enumeration, reload, ps;
    for (int i = 0; i < runs; ++i) {
        // the enumeration alone, timed on the pool thread that runs it
        auto timed = QtConcurrent::run([] {
            QElapsedTimer t;
            t.start();
            const QList<SystemProcess> list = enumerateSystemProcesses();
            return std::make_pair(elapsedMs(t), list.size());
        });
        const auto result = timed.result();
        enumeration.push_back(result.first);
        f.processes = result.second;

        // a whole reload of the model, from the call to its reloaded() signal
        SystemProcessListModel model;
        QEventLoop loop;
        QObject::connect(&model, &SystemProcessListModel::reloaded, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        model.reload();
        loop.exec();
        reload.push_back(elapsedMs(t));

        QProcess psRun;
        t.restart();
        psRun.start(QStringLiteral("ps"), {QStringLiteral("-e")});
        psRun.waitForFinished(30000);
        const QByteArray out = psRun.readAllStandardOutput();
        ps.push_back(elapsedMs(t));
        f.psProcesses = out.count('\n') - 1;
    }
    f.enumeration = median(enumeration);
    f.reload = median(reload);
    f.ps = median(ps);
    return f;
}

double measureCheck(const QString &name, int runs, int *result)
{
    ProcessWatcher watcher;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        *result = watcher.check(name);
        times.push_back(elapsedMs(t));
    }
    return median(times);
}

void line(const QString &figure, double value, const QString &goal, bool met)
{
    std::printf("%s: %.2f ms (goal: %s): %s\n", qPrintable(figure), value, qPrintable(goal),
                met ? "met" : "NOT MET");
    std::fflush(stdout);
}

void report(const QString &setting, const Figures &f)
{
    const QString where = QStringLiteral("%1, %2 processes listed, ps -e lists %3")
                              .arg(setting)
                              .arg(f.processes)
                              .arg(f.psProcesses);
    line(QStringLiteral("process enumeration off the GUI thread, %1").arg(where), f.enumeration,
         QStringLiteral("no slower than ps -e, %1 ms").arg(f.ps, 0, 'f', 2), f.enumeration <= f.ps);
    line(QStringLiteral("process list reload to reloaded(), %1").arg(where), f.reload,
         QStringLiteral("no slower than ps -e, %1 ms").arg(f.ps, 0, 'f', 2), f.reload <= f.ps);
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption crowdOption("crowd", "Extra processes to start.", "N", "500");
    QCommandLineOption runsOption("runs", "Measurements per figure.", "N", "21");
    parser.addOptions({crowdOption, runsOption});
    parser.process(app);
    const int crowdCount = std::clamp(parser.value(crowdOption).toInt(), 0, maxCrowd);
    const int runs = std::max(1, parser.value(runsOption).toInt());

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    QTemporaryDir dir;
    const QString crowdName = QStringLiteral("tovel3-bench-crowd");
    const QString crowdProgram = dir.filePath(crowdName);
    if (!dir.isValid() || !QFile::copy(QStringLiteral("/bin/sleep"), crowdProgram)) {
        std::fprintf(stderr, "cannot prepare the crowd program\n");
        return 1;
    }
    QFile::setPermissions(crowdProgram, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString absent = QStringLiteral("tovel3-bench-absent");
    const QString checkGoal = QStringLiteral("well under 10 ms: below 5 ms");

    int result = 0;
    report(QStringLiteral("this machine"), measureList(runs));
    double t = measureCheck(absent, runs, &result);
    line(QStringLiteral("process check, no such process, this machine"), t, checkGoal,
         t < 5 && result == 1);

    if (!spawnCrowd(crowdProgram, crowdCount)) {
        killCrowd();
        std::fprintf(stderr, "cannot start %d extra processes\n", crowdCount);
        return 1;
    }
    QThread::msleep(500); // let them all reach their sleep
    const QString with = QStringLiteral("with %1 extra processes").arg(crowdCount);
    report(with, measureList(runs));
    t = measureCheck(absent, runs, &result);
    line(QStringLiteral("process check, no such process, %1").arg(with), t, checkGoal,
         t < 5 && result == 1);
    t = measureCheck(crowdName, runs, &result);
    // every extra process shares the name: the state of each one is read
    line(QStringLiteral("process check, all %1 extra processes of that name (worst case)")
             .arg(crowdCount),
         t, QStringLiteral("below 10 ms"), t < 10 && result == (crowdCount > 0 ? 0 : 1));
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    t = measureCheck(self, runs, &result);
    line(QStringLiteral("process check, one of that name running, %1").arg(with), t, checkGoal,
         t < 5 && result == 0);
    killCrowd();
    return 0;
}
