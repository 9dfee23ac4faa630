#include "support/pingstandin.h"

#include <QFile>

PingStandIn::PingStandIn()
    : m_path(qgetenv("PATH"))
{
    const QString ping = m_dir.filePath(QStringLiteral("ping"));
    m_installed = QFile::copy(QStringLiteral(TOVEL3_PING_STANDIN), ping) &&
                  QFile::setPermissions(ping, QFile::ReadOwner | QFile::ExeOwner);
    setHidden(false);
}

PingStandIn::~PingStandIn()
{
    qputenv("PATH", m_path);
}

void PingStandIn::setDown(bool down)
{
    const QByteArray yes;
    setFile(QStringLiteral("down"), down ? &yes : nullptr);
}

void PingStandIn::setSlow(const QByteArray &seconds)
{
    setFile(QStringLiteral("slow"), seconds.isEmpty() ? nullptr : &seconds);
}

void PingStandIn::setReply(const QByteArray &out, const QByteArray &err, int code)
{
    const QByteArray exitCode = QByteArray::number(code);
    setFile(QStringLiteral("code"), nullptr);
    setFile(QStringLiteral("out"), &out);
    setFile(QStringLiteral("err"), &err);
    setFile(QStringLiteral("code"), &exitCode);
}

void PingStandIn::setHidden(bool hidden)
{
    qputenv("PATH", hidden ? QFile::encodeName(m_empty.path())
                           : QFile::encodeName(m_dir.path()) + ':' + m_path);
}

QStringList PingStandIn::arguments() const
{
    QFile f(m_dir.filePath(QStringLiteral("args")));
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("<no run>")};
    QStringList args = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!args.isEmpty() && args.last().isEmpty())
        args.removeLast();
    return args;
}

qint64 PingStandIn::pid() const
{
    QFile f(m_dir.filePath(QStringLiteral("pid")));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong() : 0;
}

void PingStandIn::setFile(const QString &name, const QByteArray *content)
{
    QFile f(m_dir.filePath(name));
    if (!content) {
        f.remove();
        return;
    }
    if (f.open(QIODevice::WriteOnly))
        f.write(*content);
}
