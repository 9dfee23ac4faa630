#include "boardsim/boardsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    ssize_t ignored = ::write(signalPipe[1], &c, 1);
    (void)ignored;
}

QString printable(const QByteArray &bytes)
{
    QString text;
    for (char c : bytes) {
        const uchar u = uchar(c);
        if (u == '\n')
            text += "\\n";
        else if (u == '\r')
            text += "\\r";
        else if (u < 0x20 || u >= 0x7f)
            text += QString("\\x%1").arg(u, 2, 16, QChar('0'));
        else
            text += QChar(u);
    }
    return text;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    app.setApplicationName("tovel3-boardsim");
    app.setApplicationVersion(TOVEL3_SIM_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Simulates a USB watchdog board on a pseudo-terminal. The first line printed is the "
        "port path; run the application with TOVEL3_EXTRA_PORTS=<that path>.");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption modelOption("model", "Board model: x2, s2 or s (older firmware).", "model",
                                   "x2");
    QCommandLineOption linkOption("link", "Stable port path (a symbolic link to the PTY).", "path",
                                  "/tmp/tovel3-board");
    QCommandLineOption scaleOption("time-scale", "Seconds per board minute (default 60).",
                                   "seconds", "60");
    QCommandLineOption verboseOption("verbose", "Print every command and reply.");
    parser.addOptions({modelOption, linkOption, scaleOption, verboseOption});
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString modelName = parser.value(modelOption).toLower();
    BoardSimulator::Model model;
    if (modelName == "x2")
        model = BoardSimulator::X2;
    else if (modelName == "s2")
        model = BoardSimulator::S2;
    else if (modelName == "s")
        model = BoardSimulator::LegacyS;
    else {
        err << "Unknown model \"" << parser.value(modelOption) << "\" (use x2, s2 or s)\n";
        return 2;
    }
    bool ok = false;
    const double scale = parser.value(scaleOption).toDouble(&ok);
    if (!ok || scale <= 0) {
        err << "Invalid time scale \"" << parser.value(scaleOption) << "\"\n";
        return 2;
    }

    BoardSimulator board(model);
    board.setTimeScale(scale);
    if (!board.start(parser.value(linkOption))) {
        err << "Cannot create the port at " << parser.value(linkOption)
            << " (an existing file that is not a symbolic link is never replaced)\n";
        return 1;
    }
    out << board.portPath() << Qt::endl;

    const bool verbose = parser.isSet(verboseOption);
    auto stamp = [] { return QDateTime::currentDateTime().toString("HH:mm:ss.zzz"); };
    if (verbose) {
        out << "# " << board.slavePath() << ", type " << board.typeLetter() << ", firmware "
            << board.firmwareVersion() << Qt::endl;
        QObject::connect(&board, &BoardSimulator::commandReceived, [&](const QByteArray &cmd) {
            out << stamp() << " << " << printable(cmd) << Qt::endl;
        });
        QObject::connect(&board, &BoardSimulator::replySent, [&](const QByteArray &bytes) {
            out << stamp() << " >> " << printable(bytes) << Qt::endl;
        });
    }
    QObject::connect(&board, &BoardSimulator::resetFired, [&] {
        out << stamp() << " RESET: no heartbeat for " << board.t1() << " min (reset "
            << board.resetCount() << ")" << Qt::endl;
    });

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 1;
    QSocketNotifier stopper(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    return app.exec();
}
