#include "window/settings.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <QTextCodec>
#include <QUrl>

namespace
{
QString localPath(const QString &file)
{
    return QUrl(file, QUrl::TolerantMode).toLocalFile();
}

// QSettings accepts almost anything as INI: lines without "=" and binary
// bytes are skipped or turned into odd keys without any error. A file is
// taken for INI text only when it is valid UTF-8 without control characters
// and every line is blank, a comment, a section header, an assignment or the
// continuation of one.
bool isIniText(const QByteArray &data)
{
    for (const char c : data) {
        const uchar u = uchar(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f')
            return false;
    }
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(data.constData(), data.size(), &state);
    if (state.invalidChars != 0 || state.remainingChars != 0)
        return false;

    bool continued = false;
    const QList<QByteArray> lines = data.split('\n');
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        const bool ok = continued || line.isEmpty() || line.startsWith(';') ||
                        line.startsWith('#') || line.startsWith('[') || line.contains('=');
        if (!ok)
            return false;
        continued = line.endsWith('\\');
    }
    return true;
}
} // namespace

SettingsTransfer::SettingsTransfer(QObject *parent)
    : QObject(parent)
    , m_store(new QSettings(this))
{
}

SettingsTransfer::~SettingsTransfer() = default;

bool SettingsTransfer::exportSettings(const QString &file)
{
    QString path = localPath(file);
    if (path.isEmpty())
        return false;
    if (!path.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive))
        path += QLatin1String(".ini");
    // Only a regular file (or none yet): a FIFO or a device could block.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return false;
    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    const QStringList keys = m_store->allKeys();
    for (const QString &key : keys)
        ini.setValue(key, m_store->value(key));
    ini.sync();
    return ini.status() == QSettings::NoError;
}

bool SettingsTransfer::importSettings(const QString &file)
{
    const QString path = localPath(file);
    if (path.isEmpty())
        return false;
    // Nothing must be merged into a store that cannot keep it: the caller
    // closes the application after a successful import.
    if (!m_store->isWritable())
        return false;

    QByteArray data;
    const QFileInfo info(path);
    if (info.exists()) {
        // Only a regular file: a FIFO or a device could block for ever.
        QFile in(path);
        if (!info.isFile() || !in.open(QIODevice::ReadOnly))
            return false;
        data = in.readAll();
        if (in.error() != QFileDevice::NoError)
            return false;
        // QSettings would take a byte-order mark for part of the first key.
        const QByteArray bom("\xEF\xBB\xBF");
        if (data.startsWith(bom))
            data.remove(0, bom.size());
        if (!isIniText(data))
            return false;
    }

    // QSettings keeps each INI file it parsed in a per-process cache and
    // reports no format error when it takes a file from there: every import
    // parses what was just read under a name never used before.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(data) != data.size() || !copy.flush())
        return false;
    QSettings ini(copy.fileName(), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    if (ini.status() != QSettings::NoError)
        return false;
    const QStringList keys = ini.allKeys();
    for (const QString &key : keys)
        m_store->setValue(key, ini.value(key));
    m_store->sync();
    // A settings object keeps its first error for ever; a fresh one on the
    // same store tells whether the merged values reached the disk now.
    QSettings probe;
    probe.sync();
    return probe.status() == QSettings::NoError;
}
