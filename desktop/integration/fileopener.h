#pragma once

#include <QObject>
#include <QString>

// Opens a local file, or a web address, in the program the desktop has for
// it, and says whether something opened it: failed() when there is no opener
// on the system or the opener found no program for it, opened() otherwise.
//
// On Linux xdg-open does the opening. It reports what it cannot open only by
// its exit code, which QDesktopServices does not wait for, so it runs here
// and its exit is watched. An xdg-open that is still running after a while
// has started a program and waits for it; it is not watched longer.
class FileOpener : public QObject
{
    Q_OBJECT
public:
    explicit FileOpener(QObject *parent = nullptr);
    ~FileOpener() override;

    // Asks the desktop to open the file (a path) or the page (an http or
    // https address); failed(target) or opened(target) follows, at once or
    // when the opener is done.
    Q_INVOKABLE void open(const QString &target);
    // True for an existing regular file (a symbolic link counts as its target).
    Q_INVOKABLE static bool isFile(const QString &path);

    // How long an opener's failure still counts, in milliseconds.
    static constexpr int watchMs = 10000;

signals:
    void failed(const QString &target);
    void opened(const QString &target);

private:
    // The system's half (fileopener_<system>.cpp): starts the system's own
    // opener, whose end is watched, and returns true; false when there is
    // none and QDesktopServices is asked instead.
    bool startWatchedOpener(const QString &target);
};
