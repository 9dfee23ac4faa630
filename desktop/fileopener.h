#pragma once

#include <QObject>
#include <QString>

// Opens a local file in the program the desktop has for it, and says when
// nothing opened it: no opener on the system, or an opener that found no
// program for the file.
//
// On Linux xdg-open does the opening. It reports a file it cannot open only
// by its exit code, which QDesktopServices does not wait for, so it runs
// here and its exit is watched. An xdg-open that is still running after a
// while has started a program and waits for it; it is not watched longer.
class FileOpener : public QObject
{
    Q_OBJECT
public:
    explicit FileOpener(QObject *parent = nullptr);
    ~FileOpener() override;

    // Asks the desktop to open the file; failed(path) follows when nothing
    // opened it, at once or when the opener gives up.
    Q_INVOKABLE void open(const QString &path);

    // How long an opener's failure still counts, in milliseconds.
    static constexpr int watchMs = 10000;

signals:
    void failed(const QString &path);
};
