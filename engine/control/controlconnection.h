#pragma once

#include <QByteArray>
#include <QObject>

#ifdef Q_OS_WIN
class QLocalSocket;
#else
class QSocketNotifier;
#endif

// One client of the control socket, as ControlServer serves it: what came in
// waits in a bounded buffer (nothing more is taken from the system while it
// is full), what goes out is queued and sent as the client takes it.
//
// The platform's half (platform/<system>/controlconnection.cpp) moves the
// bytes: a non-blocking Unix-domain socket watched by socket notifiers, or a
// named pipe through QLocalSocket on Windows. Signals come only from the
// event loop, never from inside a call.
class ControlConnection : public QObject
{
    Q_OBJECT
public:
#ifdef Q_OS_WIN
    // Takes over a connection the local server accepted.
    explicit ControlConnection(QLocalSocket *socket, QObject *parent = nullptr);
#else
    // Takes over an accepted, non-blocking socket; closes it in the end.
    explicit ControlConnection(int descriptor, QObject *parent = nullptr);
#endif
    ~ControlConnection() override;

    // The most that waits to be read; 64 KiB unless set.
    void setReadBufferSize(int size);
    int bytesAvailable() const
    {
        return m_buffer.size();
    }
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

    QByteArray m_buffer;
    int m_readBufferSize = 64 * 1024;
#ifdef Q_OS_WIN
    QLocalSocket *m_socket;
#else
    // Sends what the socket takes now; false once the connection is broken.
    bool sendPending();
    void send();
    void finish();

    int m_fd;
    QSocketNotifier *m_reader;
    QSocketNotifier *m_writer;
    QByteArray m_pending; // written, not yet sent
    bool m_closing = false;
#endif
};
