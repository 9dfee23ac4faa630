#pragma once

#include <QObject>
#include <QString>

// Starts the application at logon through the per-user autostart entry:
// on Windows the Run value "BrennicTovel3", elsewhere the XDG autostart file
// "BrennicTovel3.desktop". Every call reads the entry afresh. What touches
// the entry itself lives in autostarter_<system>.cpp.
class AutoStarter : public QObject
{
    Q_OBJECT

public:
    explicit AutoStarter(QObject *parent = nullptr);

    Q_INVOKABLE void checkAutostart();
    Q_INVOKABLE bool autostartSet();
    Q_INVOKABLE void setAutostart(bool on);

    // The entry's name: the Run value, or the desktop file without ".desktop".
    static QString entryName();
    // The program file that runs now (the AppImage itself when run from one).
    static QString executablePath();
    // The command the entry must hold for the given program file.
    static QString expectedCommand(const QString &program);

private:
    QString readCommand() const;
    void writeCommand(const QString &command);
    void removeCommand();
};
