// QSaveFile writes beside the file and moves it into place.
#include "monitor/metricswriter.h"

#include <QSaveFile>

QString MetricsWriter::writeFile(const QString &path, const QString &, const QByteArray &content)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return QString();
}

// Nothing to do: QSaveFile's temporary names tell nothing of the process that wrote them.
void MetricsWriter::removeStaleTemporaryFiles(const QString &) {}
