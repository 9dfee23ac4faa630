#pragma once

#include <QByteArray>
#include <QObject>

// One client of the control socket, as ControlServer serves it: what came in
// waits in a bounded buffer (nothing more is taken from the system while it
// is full), what goes out is queued and sent as the client takes it.
//
// The system's half (controlconnection_<system>.cpp) moves the bytes: a non-blocking Unix-domain
// socket watched by socket notifiers, or a named pipe through QLocalSocket on Windows. Signals come
// only from the event loop, never from inside a call.
class ControlConnection : public QObject
{
    Q_OBJECT
public:
    // Takes over what the system's listener accepted, and closes it in the
    // end: a non-blocking socket's descriptor (Unix) or a named pipe's
    // handle (Windows).
    explicit ControlConnection(qintptr handle, QObject *parent = nullptr);
    ~ControlConnection() override;

    // The most that waits to be read; 64 KiB unless set.
    void setReadBufferSize(int size);
    int bytesAvailable() const { return m_buffer.size(); }
    QByteArray read(int maxSize);

    void write(const QByteArray &data);
    qint64 bytesToWrite() const;
    // Closes once what was written has gone out; disconnected() follows.
    void close();
    // Closes at once, dropping what was not sent, without disconnected().
    void abort();
    bool isOpen() const;

signals:
    void readyRead();
    // The client went away, the connection failed, or close() is done.
    void disconnected();

private:
    // What the system holds, into the buffer up to its bound.
    void receive();
    // After read() made room: takes in more of what waits.
    void resume();

    // The system's half: its socket and what it keeps of it (a child of
    // this object).
    struct Transport;

    QByteArray m_buffer;
    int m_readBufferSize = 64 * 1024;
    Transport *d;
};
