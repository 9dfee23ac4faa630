#include "settings.h"

#include <QColor>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTextCodec>
#include <QUrl>

namespace
{
QString localPath(const QString &file)
{
    return QUrl(file, QUrl::TolerantMode).toLocalFile();
}

QVariant convert(const QString &value, const QString &type)
{
    if (type == QLatin1String("int"))
        return value.toInt();
    if (type == QLatin1String("int_kb"))
        return quint64(value.toUInt()) * 1024u;
    if (type == QLatin1String("int_mb"))
        return quint64(value.toUInt()) * 1048576u;
    if (type == QLatin1String("bool"))
        return value.toLower() == QLatin1String("true");
    if (type == QLatin1String("color"))
        return QColor(value);
    if (type == QLatin1String("double"))
        return value.toDouble();
    if (type == QLatin1String("stringlist"))
        return value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    return value;
}

// QSettings accepts almost anything as INI: lines without "=" are skipped
// silently. A file that holds bytes no text file has (NUL, other control
// characters) or that is not valid UTF-8 is not a settings file.
bool looksLikeText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = f.readAll();
    for (const char c : data) {
        const uchar u = uchar(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f')
            return false;
    }
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(data.constData(), data.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}
} // namespace

Settings::Settings(QObject *parent)
    : QObject(parent)
    , m_store(new QSettings(this))
{
}

Settings::~Settings() = default;

QString Settings::read(const QString &key, const QString &defaultValue) const
{
    if (!m_store->contains(key))
        return defaultValue;
    return m_store->value(key).toString();
}

QString Settings::read(const QString &key) const
{
    return read(key, QString());
}

void Settings::write(const QString &key, const QString &value, const QString &type)
{
    m_store->setValue(key, convert(value, type));
    m_store->sync();
}

void Settings::write(const QString &key, const QString &value)
{
    write(key, value, QStringLiteral("string"));
}

bool Settings::hasKey(const QString &key) const
{
    return m_store->allKeys().contains(key, Qt::CaseSensitive);
}

void Settings::reset(const QString &key)
{
    m_store->setValue(key, QVariant());
}

void Settings::remove(const QString &key)
{
    m_store->remove(key);
}

void Settings::flush()
{
    m_store->sync();
}

void Settings::exportSettings(const QString &file)
{
    QString path = localPath(file);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive))
        path += QLatin1String(".ini");
    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    const QStringList keys = m_store->allKeys();
    for (const QString &key : keys)
        ini.setValue(key, m_store->value(key));
    ini.sync();
}

bool Settings::importSettings(const QString &file)
{
    const QString path = localPath(file);
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (info.exists() && (!info.isFile() || !info.isReadable() || !looksLikeText(path)))
        return false;
    if (!m_store->isWritable())
        return false;

    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    if (ini.status() != QSettings::NoError)
        return false;
    const QStringList keys = ini.allKeys();
    for (const QString &key : keys)
        m_store->setValue(key, ini.value(key));
    m_store->sync();
    return m_store->status() == QSettings::NoError;
}
