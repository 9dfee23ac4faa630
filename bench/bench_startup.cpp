// Start-up time to the first frame, and the running program's heartbeat,
// lamp latency, idle CPU and peak memory, all measured from outside the real
// tovel3 executable and beside a bare Qt Quick Controls 2 Material window.
//
//   bench_startup --tovel3 PATH [--compare PATH] [--runs N] [--idle SECONDS]
//                 [--only startup|running] [--cold-qml]
//
// Every child runs with Qt's scene-graph timing log switched on and a message
// pattern that stamps each line with the monotonic clock; the parent reads the
// stamp of the first "Frame rendered" line that drew the window, so nothing
// inside the program has to change. (The threaded render loop first logs a
// frame it skips when the window is exposed, before anything is drawn; its
// stamp is reported too, as the time to the exposed window.) The board is the
// simulator, in this process, on a PTY handed to the program through
// TOVEL3_EXTRA_PORTS. Each child has a private HOME.
//
// Start-up compares three things with the same warm QML cache:
//   - the real executable beside a bare window (this program, --child bare);
//   - this program running the executable's start-up (--child mirror: the
//     desktop start-up main() runs, with the engine behind the window) with and without
//     the Application page: in the second the page's file is swapped for a
//     stand-in with the few properties the window sets, so no updater or
//     dialogs exist.
//
// --cold-qml empties the QML disk caches before every start-up, as on the
// first start after an installation or update (the graphics driver's shader
// cache stays warm).
//
// --compare measures a second tovel3 (another build, say of the commit before
// a change) in the same rounds, interleaved with the others, so that a before
// and after share the machine's load.
//
// Results are printed as "<what>: <value> (goal: <goal>): met|not met".

#include "bench/benchreport.h"
#include "bench/procusage.h"
#include "boardsim/boardsimulator.h"
#include "integration/singleapphandler.h"
#include "service/instancelock.h"
#include "service/loadtranslations.h"
#include "service/unixsignalwatcher.h"
#include "storage/journal.h"
#include "window/desktopstartup.h"
#include "window/materialfixes.h"
#include "window/qmlhost.h"
#include "window/startup.h"
#include "window/windowhost.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QProcess>
#include <QQmlAbstractUrlInterceptor>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
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
        Page {
            StatusIndicator { anchors.centerIn: parent; color: "green"; active: true }
        }
        Page { Label { anchors.centerIn: parent; text: "Settings" } }
        Page { Label { anchors.centerIn: parent; text: "Application" } }
    }
}
)";

// Holds what the window sets on the Application page at start-up, and nothing else.
const char standInPage[] = R"(import QtQuick 2.10
import QtQuick.Controls 2.3

Page {
    property QtObject hideSwitch: QtObject { property bool checked }
    property QtObject autostartSwitch: QtObject { property bool checked }
    property QtObject softwareSwitch: QtObject { property bool checked }
    property QtObject legacySwitch: QtObject { property bool checked }
    property QtObject logSwitch: QtObject { property bool checked }
}
)";

qint64 monotonicMs()
{
    QElapsedTimer now; // the clock Qt stamps "%{time boot}" with
    now.start();
    return now.msecsSinceReference();
}

// ---------------------------------------------------------------- children

class PageSwap : public QQmlAbstractUrlInterceptor
{
public:
    explicit PageSwap(const QUrl &standIn)
        : m_standIn(standIn)
    {
    }
    QUrl intercept(const QUrl &url, DataType type) override
    {
        if (type == QmlFile && !m_standIn.isEmpty() && url.scheme() == QLatin1String("qrc") &&
            url.path() == QLatin1String("/Page3.qml"))
            return m_standIn;
        return url;
    }

private:
    QUrl m_standIn;
};

// The executable's start-up (the same object main() runs), with the
// engine's URLs passed through an interceptor that swaps the Application
// page for a stand-in when one is given.
int runMirror(int argc, char **argv, const QString &standIn)
{
    PageSwap swap(standIn.isEmpty() ? QUrl() : QUrl::fromLocalFile(standIn));
    return DesktopStartup::run(argc, argv, &swap);
}

int runBare(int argc, char **argv, const QString &file)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Brennic"));
    app.setApplicationName(QStringLiteral("BareWindow"));
    QQuickStyle::setStyle(QStringLiteral("Material"));
    QQmlApplicationEngine engine;
    engine.load(QUrl::fromLocalFile(file));
    return engine.rootObjects().isEmpty() ? 1 : app.exec();
}

// ---------------------------------------------------------------- parent

struct Stamped {
    qint64 ms;
    QString text;
};

// One child process whose stderr lines carry the monotonic clock.
class Child
{
public:
    Child(const QString &program, const QStringList &args, const QProcessEnvironment &env)
    {
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.setWorkingDirectory(QDir::rootPath());
        QObject::connect(&proc, &QProcess::readyReadStandardOutput, [this] { readLines(); });
        startMs = monotonicMs();
        proc.start(program, args);
    }
    ~Child() { stop(); }

    bool waitFor(const std::function<bool()> &done, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > timeoutMs || proc.state() == QProcess::NotRunning)
                return done();
            QEventLoop loop;
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return true;
    }

    // Stamp of the first line at or after fromMs that contains text, or -1.
    qint64 lineAfter(qint64 fromMs, const QString &text) const
    {
        for (const Stamped &line : lines)
            if (line.ms >= fromMs && line.text.contains(text))
                return line.ms;
        return -1;
    }
    qint64 frameAfter(qint64 fromMs) const
    {
        return lineAfter(fromMs, QStringLiteral("Frame rendered"));
    }
    // The threaded render loop logs a frame when the window is first exposed
    // although it skips it: nothing is drawn until the scene has been synced.
    static bool skippedFrame(const QString &text)
    {
        return text.contains(
            QLatin1String("'threaded' renderloop in 0ms, sync=0, render=0, swap=0"));
    }
    // Stamp of the first frame that drew the window, or -1.
    qint64 firstDrawnFrame() const
    {
        for (const Stamped &line : lines)
            if (line.text.contains(QLatin1String("Frame rendered")) && !skippedFrame(line.text))
                return line.ms;
        return -1;
    }

    void stop()
    {
        if (proc.state() == QProcess::NotRunning)
            return;
        proc.terminate();
        if (!proc.waitForFinished(10000)) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }

    qint64 pid() const { return proc.processId(); }

    QProcess proc;
    qint64 startMs = 0;
    std::vector<Stamped> lines;

private:
    void readLines()
    {
        buffer += proc.readAllStandardOutput();
        int nl;
        while ((nl = buffer.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(buffer.left(nl));
            buffer.remove(0, nl + 1);
            bool ok = false;
            const double secs =
                line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toDouble(&ok);
            if (ok)
                lines.push_back({qint64(std::llround(secs * 1000.0)), line});
        }
    }
    QByteArray buffer;
};

struct CpuMem {
    qint64 ticks = -1;
    qint64 peakKb = -1;
};

CpuMem sample(qint64 pid)
{
    return {ProcUsage::cpuTicks(pid), ProcUsage::peakKilobytes(pid)};
}

using BenchReport::median;
using BenchReport::result;

class Bench
{
public:
    Bench(const QString &tovel3, const QString &compared, const QString &self)
        : m_tovel3(tovel3)
        , m_compared(compared)
        , m_self(self)
    {
        m_root.setAutoRemove(true);
        const QString root = m_root.path();
        QDir().mkpath(root + "/home/.config/Brennic");
        QDir().mkpath(root + "/runtime");
        QDir().mkpath(root + "/tmp");
        QFile::setPermissions(root + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        writeFile(root + "/bare.qml", barePage);
        writeFile(root + "/standin/Page3.qml", standInPage);

        m_env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                 "QT_LOGGING_CONF", "TOVEL3_EXTRA_PORTS"})
            m_env.remove(name);
        m_env.insert("HOME", root + "/home");
        m_env.insert("XDG_RUNTIME_DIR", root + "/runtime");
        m_env.insert("TMPDIR", root + "/tmp");
        m_env.insert("QT_LOGGING_RULES", "qt.scenegraph.time.renderloop.debug=true");
        m_env.insert("QT_MESSAGE_PATTERN", "%{time boot} %{category}: %{message}");
        m_env.insert("LANG", "C.UTF-8");

        m_board.setTimeScale(60);
        if (m_board.start(root + "/board"))
            m_env.insert("TOVEL3_EXTRA_PORTS", m_board.portPath());
        else
            std::fprintf(stderr, "board simulator did not start\n");
    }

    bool ok() const { return m_env.contains("TOVEL3_EXTRA_PORTS"); }
    void setColdQml(bool cold) { m_coldQml = cold; }

    enum Kind { Real, Bare, Mirror, MirrorWithoutPage, Compared };

    QString cacheOf(Kind kind) const
    {
        return m_root.path() + QStringLiteral("/cache%1").arg(int(kind));
    }

    std::unique_ptr<Child> launch(Kind kind)
    {
        QString program = m_self;
        QStringList args;
        switch (kind) {
        case Real:
            program = m_tovel3;
            break;
        case Bare:
            args << "--child"
                 << "bare" << m_root.path() + "/bare.qml";
            break;
        case Mirror:
            args << "--child"
                 << "mirror";
            break;
        case MirrorWithoutPage:
            args << "--child"
                 << "mirror" << m_root.path() + "/standin/Page3.qml";
            break;
        case Compared:
            program = m_compared;
            break;
        }
        // Each kind keeps its own QML cache, warmed by its own first run.
        QProcessEnvironment env = m_env;
        env.insert("XDG_CACHE_HOME", cacheOf(kind));
        return std::make_unique<Child>(program, args, env);
    }

    struct Startup {
        double drawn = -1;   // to the first frame that drew the window
        double exposed = -1; // to the first frame logged, skipped or not
    };

    // Milliseconds from the start of the process to its first frames, or -1.
    Startup startup(Kind kind)
    {
        if (m_coldQml) {
            // <cache>/<organisation>/<application>/qmlcache
            QDir cache(cacheOf(kind));
            for (const QString &org : cache.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                for (const QString &app :
                     QDir(cache.filePath(org)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                    QDir(cache.filePath(org + '/' + app + QStringLiteral("/qmlcache")))
                        .removeRecursively();
        }
        auto child = launch(kind);
        child->waitFor([&] { return child->firstDrawnFrame() >= 0; }, 20000);
        const qint64 drawn = child->firstDrawnFrame();
        const qint64 exposed = child->frameAfter(0);
        child->stop();
        Startup times;
        if (drawn >= 0)
            times.drawn = double(drawn - child->startMs);
        if (exposed >= 0)
            times.exposed = double(exposed - child->startMs);
        return times;
    }

    void measureStartup(int runs)
    {
        std::vector<Kind> kinds = {Bare, Real, Mirror, MirrorWithoutPage};
        if (!m_compared.isEmpty())
            kinds.push_back(Compared);
        std::vector<std::vector<double>> times(kinds.size()), exposed(kinds.size());
        // Round 0 fills the caches of the private HOME (QML, shaders) and is not counted.
        // Each round takes the kinds in another order (the same for every
        // bench run): a start-up right after a kindred one finds more of its
        // libraries and files hot, and a fixed order favoured one kind over
        // another by 15-20 ms.
        std::vector<size_t> order(kinds.size());
        std::iota(order.begin(), order.end(), size_t(0));
        std::mt19937 shuffler(20261207);
        for (int round = 0; round <= runs; ++round) {
            std::shuffle(order.begin(), order.end(), shuffler);
            for (const size_t k : order) {
                const Startup ms = startup(kinds[k]);
                if (ms.drawn < 0) {
                    std::fprintf(stderr, "start-up %zu produced no frame\n", k);
                    continue;
                }
                if (round > 0) {
                    times[k].push_back(ms.drawn);
                    exposed[k].push_back(ms.exposed);
                }
            }
        }
        const double bare = median(times[0]), real = median(times[1]);
        const double with = median(times[2]), without = median(times[3]);
        const double bareExposed = median(exposed[0]), realExposed = median(exposed[1]);
        const auto least = [&](size_t k) {
            return times[k].empty() ? NAN : *std::min_element(times[k].begin(), times[k].end());
        };
        std::printf(
            "start-up runs %d; first drawn frame, medians (minima): bare window %.0f ms (%.0f), "
            "tovel3 %.0f ms (%.0f), mirrored start-up %.0f ms (%.0f), mirrored without the "
            "Application page %.0f ms (%.0f); first frame logged (skipped, window just exposed): "
            "bare window %.0f ms, tovel3 %.0f ms\n",
            runs, bare, least(0), real, least(1), with, least(2), without, least(3), bareExposed,
            realExposed);
        result("start-up to the first drawn frame, tovel3 beside a bare Material window with tab "
               "bar and lamp",
               QString("%1 ms vs %2 ms, %3x (median of %4)")
                   .arg(real, 0, 'f', 0)
                   .arg(bare, 0, 'f', 0)
                   .arg(real / bare, 0, 'f', 2)
                   .arg(runs),
               "at most 1.3 times the bare window", real <= 1.3 * bare);
        result("start-up to the first frame logged (skipped: window exposed, nothing drawn yet), "
               "tovel3 beside the bare window",
               QString("%1 ms vs %2 ms, %3x (median of %4)")
                   .arg(realExposed, 0, 'f', 0)
                   .arg(bareExposed, 0, 'f', 0)
                   .arg(realExposed / bareExposed, 0, 'f', 2)
                   .arg(runs),
               "at most 1.3 times the bare window", realExposed <= 1.3 * bareExposed);
        const double extra = (with - without) / without * 100.0;
        const double extraMin = (least(2) - least(3)) / least(3) * 100.0;
        result("start-up with the Application page and its updater vs with a stand-in page "
               "(mirrored start-up, first drawn frame)",
               QString("%1 % (%2 ms vs %3 ms; minima %4 %)")
                   .arg(extra, 0, 'f', 1)
                   .arg(with, 0, 'f', 0)
                   .arg(without, 0, 'f', 0)
                   .arg(extraMin, 0, 'f', 1),
               "median within 10 %", extra <= 10.0);
        if (!m_compared.isEmpty()) {
            const double other = median(times[4]), otherExposed = median(exposed[4]);
            std::printf("compared tovel3 %s: first drawn frame %.0f ms (minimum %.0f), first "
                        "frame logged %.0f ms\n",
                        qPrintable(m_compared), other, least(4), otherExposed);
            result("start-up to the first drawn frame, compared tovel3 beside the bare window",
                   QString("%1 ms vs %2 ms, %3x (median of %4)")
                       .arg(other, 0, 'f', 0)
                       .arg(bare, 0, 'f', 0)
                       .arg(other / bare, 0, 'f', 2)
                       .arg(runs),
                   "at most 1.3 times the bare window", other <= 1.3 * bare);
            result("start-up to the first frame logged, compared tovel3 beside the bare window",
                   QString("%1 ms vs %2 ms, %3x (median of %4)")
                       .arg(otherExposed, 0, 'f', 0)
                       .arg(bareExposed, 0, 'f', 0)
                       .arg(otherExposed / bareExposed, 0, 'f', 2)
                       .arg(runs),
                   "at most 1.3 times the bare window", otherExposed <= 1.3 * bareExposed);
        }
    }

    void measureRunning(int idleSeconds)
    {
        std::vector<qint64> heartbeats, acks;
        const auto onCommand = QObject::connect(&m_board, &BoardSimulator::commandReceived,
                                                [&](const QByteArray &cmd) {
                                                    if (cmd == "~U")
                                                        heartbeats.push_back(monotonicMs());
                                                });
        const auto onReply =
            QObject::connect(&m_board, &BoardSimulator::replySent, [&](const QByteArray &bytes) {
                if (bytes.startsWith("~A\n"))
                    acks.push_back(monotonicMs());
            });

        CpuMem appUse, bareUse;
        double appCpu = -1;
        const std::unique_ptr<Child> app = idle(Real, idleSeconds, &appUse, &appCpu);
        QObject::disconnect(onCommand);
        QObject::disconnect(onReply);
        double bareCpu = -1;
        idle(Bare, idleSeconds, &bareUse, &bareCpu);
        CpuMem otherUse;
        double otherCpu = -1;
        if (!m_compared.isEmpty())
            idle(Compared, idleSeconds, &otherUse, &otherCpu);

        std::vector<double> gaps;
        for (size_t i = 1; i < heartbeats.size(); ++i)
            gaps.push_back(double(heartbeats[i] - heartbeats[i - 1]));
        // The first two intervals hold the identification handshake, which
        // restarts the timer, and the window's first lamp changes.
        const auto worstFrom = [&](size_t first) {
            double worst = 0;
            for (size_t i = first; i < gaps.size(); ++i)
                worst = std::max(worst, std::fabs(gaps[i] - 3000.0));
            return worst;
        };
        const double period = median(gaps);
        QStringList gapTexts;
        for (double g : gaps)
            gapTexts << QString::number(g, 'f', 0);
        std::printf("heartbeat intervals at the board (ms): %s\n", qPrintable(gapTexts.join(' ')));
        result("heartbeat period at the board",
               QString("%1 ms (median of %2 intervals)").arg(period, 0, 'f', 0).arg(gaps.size()),
               "3000 ms +- 50", gaps.size() >= 3 && std::fabs(period - 3000.0) <= 50.0);
        result("heartbeat jitter at the board from the first heartbeat, largest deviation",
               QString("%1 ms").arg(worstFrom(0), 0, 'f', 0), "at most 100 ms",
               gaps.size() >= 3 && worstFrom(0) <= 100.0);
        result("heartbeat jitter at the board from the third heartbeat, largest deviation",
               QString("%1 ms").arg(worstFrom(2), 0, 'f', 0), "at most 100 ms",
               gaps.size() >= 5 && worstFrom(2) <= 100.0);

        std::vector<double> green;
        // The first frame after the program logged the reply ("<<~A") carries
        // the lamp it sets right after logging.
        for (qint64 t : acks) {
            const qint64 handled = app ? app->lineAfter(t, QStringLiteral("<<~A")) : -1;
            const qint64 frame = handled >= 0 ? app->frameAfter(handled) : -1;
            if (frame >= 0 && frame - t < 3000)
                green.push_back(double(frame - t));
        }
        QStringList greenTexts;
        for (double g : green)
            greenTexts << QString::number(g, 'f', 0);
        std::printf("\"~A\" to green lamp frame (ms): %s\n", qPrintable(greenTexts.join(' ')));
        const double greenMs = median(green);
        const double greenMax = green.empty() ? NAN : *std::max_element(green.begin(), green.end());
        result("\"~A\" from the board to the first frame with the green lamp",
               QString("%1 ms median, %2 ms max (%3 replies)")
                   .arg(greenMs, 0, 'f', 0)
                   .arg(greenMax, 0, 'f', 0)
                   .arg(green.size()),
               "median under 50 ms", !green.empty() && greenMs < 50.0);

        result(QString("idle CPU over %1 s, tovel3 with its heartbeat beside a bare window")
                   .arg(idleSeconds),
               QString("%1 % vs %2 % of one core").arg(appCpu, 0, 'f', 2).arg(bareCpu, 0, 'f', 2),
               "at most 1 % of one core", appCpu >= 0 && appCpu <= 1.0);
        if (!m_compared.isEmpty())
            result(QString("idle CPU over %1 s, compared tovel3").arg(idleSeconds),
                   QString("%1 % of one core").arg(otherCpu, 0, 'f', 2), "at most 1 % of one core",
                   otherCpu >= 0 && otherCpu <= 1.0);
        result("peak memory (VmHWM), tovel3 beside a bare window",
               QString("%1 MB vs %2 MB")
                   .arg(appUse.peakKb / 1024.0, 0, 'f', 1)
                   .arg(bareUse.peakKb / 1024.0, 0, 'f', 1),
               "at most 1.5 times the bare window",
               appUse.peakKb > 0 && bareUse.peakKb > 0 && appUse.peakKb <= 1.5 * bareUse.peakKb);
    }

private:
    // Runs a program for a settling time and then idleSeconds; gives its CPU
    // share of one core over the latter (-1 when unknown) and its peak memory,
    // and returns the ended child with its log.
    std::unique_ptr<Child> idle(Kind kind, int idleSeconds, CpuMem *use, double *cpu)
    {
        auto child = launch(kind);
        if (!child->waitFor([&] { return child->firstDrawnFrame() >= 0; }, 20000)) {
            std::fprintf(stderr, "no frame from the %s window\n", kind == Real ? "tovel3" : "bare");
            return nullptr;
        }
        const auto settle = [&](int ms) { child->waitFor([] { return false; }, ms); };
        settle(5000);
        const CpuMem before = sample(child->pid());
        QElapsedTimer clock;
        clock.start();
        settle(idleSeconds * 1000);
        const CpuMem after = sample(child->pid());
        const double secs = clock.nsecsElapsed() / 1e9;
        *use = after;
        if (before.ticks >= 0 && after.ticks >= 0)
            *cpu = ProcUsage::cpuPercent(before.ticks, after.ticks, secs);
        child->stop();
        return child;
    }

    static void writeFile(const QString &path, const char *text)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }

    QString m_tovel3, m_compared, m_self;
    bool m_coldQml = false;
    QTemporaryDir m_root;
    QProcessEnvironment m_env;
    BoardSimulator m_board{BoardSimulator::X2};
};
} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && QByteArray(argv[1]) == "--child") {
        const QByteArray mode = argv[2];
        const QString file = argc >= 4 ? QString::fromLocal8Bit(argv[3]) : QString();
        int childArgc = 1;
        if (mode == "bare")
            return runBare(childArgc, argv, file);
        if (mode == "mirror")
            return runMirror(childArgc, argv, file);
        return 2;
    }

    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    cli.addOption({"tovel3", "The tovel3 executable.", "path"});
    cli.addOption({"compare", "Another tovel3 executable, measured in the same rounds.", "path"});
    cli.addOption({"runs", "Timed start-ups of each kind.", "n", "7"});
    cli.addOption({"idle", "Seconds of idle measurement per program.", "seconds", "30"});
    cli.addOption({"only", "Measure only \"startup\" or \"running\".", "what"});
    cli.addOption({"cold-qml", "Empty the QML disk caches before every start-up."});
    cli.process(app);
    const QString tovel3 = cli.value("tovel3");
    if (tovel3.isEmpty() || !QFileInfo(tovel3).isExecutable()) {
        std::fprintf(stderr, "give the tovel3 executable with --tovel3\n");
        return 2;
    }
    const QString compared = cli.value("compare");
    if (!compared.isEmpty() && !QFileInfo(compared).isExecutable()) {
        std::fprintf(stderr, "--compare needs an executable\n");
        return 2;
    }
    Bench bench(QFileInfo(tovel3).absoluteFilePath(),
                compared.isEmpty() ? QString() : QFileInfo(compared).absoluteFilePath(),
                QCoreApplication::applicationFilePath());
    if (!bench.ok())
        return 1;
    bench.setColdQml(cli.isSet("cold-qml"));
    const QString only = cli.value("only");
    if (only.isEmpty() || only == "startup")
        bench.measureStartup(qMax(1, cli.value("runs").toInt()));
    if (only.isEmpty() || only == "running")
        bench.measureRunning(qMax(5, cli.value("idle").toInt()));
    return 0;
}
