#pragma once

#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// A small HTTP/1.1 server on loopback that serves fixed answers by path.
// The request line's target counts as the path, so a request sent through
// this server as an HTTP proxy is counted under its full address.
class FeedServer : public QObject
{
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray type = "application/rss+xml";
        bool withLength = true;
        int delayMs = 0;
    };

    bool start()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] { serve(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        return server.listen(QHostAddress::LocalHost);
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
    QString url(const QString &path) const { return base() + path; }

    QHash<QByteArray, Answer> answers;
    QHash<QByteArray, int> hits;

private:
    void serve(QTcpSocket *s)
    {
        QByteArray request = s->property("request").toByteArray() + s->readAll();
        s->setProperty("request", request);
        if (!request.contains("\r\n\r\n") || s->property("answered").toBool())
            return;
        s->setProperty("answered", true);
        const QByteArray path = request.split(' ').value(1);
        hits[path]++;
        Answer a;
        if (answers.contains(path))
            a = answers.value(path);
        else
            a = Answer{404, "not here", "text/plain", true, 0};
        QByteArray head = "HTTP/1.1 " + QByteArray::number(a.status) +
                          " X\r\nContent-Type: " + a.type + "\r\nConnection: close\r\n";
        if (a.withLength)
            head += "Content-Length: " + QByteArray::number(a.body.size()) + "\r\n";
        head += "\r\n";
        QPointer<QTcpSocket> socket(s);
        QTimer::singleShot(a.delayMs, this, [socket, head, a] {
            if (!socket)
                return;
            socket->write(head + a.body);
            socket->disconnectFromHost();
        });
    }

    QTcpServer server;
};
