#include "appcastparser.h"

#include "versioncomparator.h"

#include <QXmlStreamReader>

const QString AppcastParser::sparkleNamespace =
    QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

namespace
{
bool isPlain(const QXmlStreamReader &xml, const QString &name)
{
    return xml.namespaceUri().isEmpty() && xml.name() == name;
}

bool isSparkle(const QXmlStreamReader &xml, const QString &name)
{
    return xml.namespaceUri() == AppcastParser::sparkleNamespace && xml.name() == name;
}

void readEnclosure(QXmlStreamReader &xml, AppcastItem &item)
{
    const QXmlStreamAttributes a = xml.attributes();
    const QString &ns = AppcastParser::sparkleNamespace;
    AppcastEnclosure e;
    e.url = QUrl(a.value(QLatin1String("url")).toString().trimmed());
    bool ok = false;
    const qint64 length = a.value(QLatin1String("length")).toLongLong(&ok);
    e.length = ok && length >= 0 ? length : -1;
    e.type = a.value(QLatin1String("type")).toString();
    e.edSignature = a.value(ns, QLatin1String("edSignature")).toString().trimmed();
    e.version = a.value(ns, QLatin1String("version")).toString().trimmed();
    e.shortVersion = a.value(ns, QLatin1String("shortVersionString")).toString().trimmed();
    e.os = a.value(ns, QLatin1String("os")).toString().trimmed();
    item.enclosures.append(e);
    xml.skipCurrentElement();
}

void readItem(QXmlStreamReader &xml, QList<AppcastItem> &items)
{
    AppcastItem item;
    bool notesLinkHasLanguage = false;
    while (xml.readNextStartElement()) {
        if (isPlain(xml, QStringLiteral("title"))) {
            item.title = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (isPlain(xml, QStringLiteral("description"))) {
            const QStringRef format =
                xml.attributes().value(AppcastParser::sparkleNamespace, QLatin1String("format"));
            const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            item.description = format.isEmpty() || format == QLatin1String("html")
                                   ? text.trimmed()
                                   : AppcastParser::plainTextToHtml(text);
        } else if (isPlain(xml, QStringLiteral("link"))) {
            item.link = QUrl(xml.readElementText().trimmed());
        } else if (isPlain(xml, QStringLiteral("enclosure"))) {
            readEnclosure(xml, item);
        } else if (isSparkle(xml, QStringLiteral("version"))) {
            item.version = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QStringLiteral("shortVersionString"))) {
            item.shortVersion = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QStringLiteral("releaseNotesLink"))) {
            // Localised links carry xml:lang; one without it is the default.
            const bool hasLanguage =
                !xml.attributes().value(QLatin1String("xml:lang")).isEmpty() ||
                !xml.attributes()
                     .value(QLatin1String("http://www.w3.org/XML/1998/namespace"),
                            QLatin1String("lang"))
                     .isEmpty();
            const QUrl url(xml.readElementText().trimmed());
            if (item.releaseNotesLink.isEmpty() || (notesLinkHasLanguage && !hasLanguage)) {
                item.releaseNotesLink = url;
                notesLinkHasLanguage = hasLanguage;
            }
        } else if (isSparkle(xml, QStringLiteral("os"))) {
            item.os = xml.readElementText().trimmed();
        } else if (isSparkle(xml, QStringLiteral("channel"))) {
            item.channel = xml.readElementText().trimmed();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (!xml.hasError())
        items.append(item);
}

bool osMatches(const QString &value, const QString &os)
{
    return value.isEmpty() || value.compare(os, Qt::CaseInsensitive) == 0;
}
} // namespace

QString AppcastParser::plainTextToHtml(const QString &text)
{
    QString html = text.trimmed().toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    return html;
}

bool AppcastParser::parse(const QByteArray &data)
{
    m_items.clear();
    m_error.clear();
    QXmlStreamReader xml(data);
    bool sawChannel = false;
    if (xml.readNextStartElement()) {
        if (!isPlain(xml, QStringLiteral("rss"))) {
            m_error = QStringLiteral("not an appcast: the document is <%1>, not <rss>")
                          .arg(xml.qualifiedName());
            m_items.clear();
            return false;
        }
        while (xml.readNextStartElement()) {
            if (isPlain(xml, QStringLiteral("channel"))) {
                sawChannel = true;
                while (xml.readNextStartElement()) {
                    if (isPlain(xml, QStringLiteral("item")))
                        readItem(xml, m_items);
                    else
                        xml.skipCurrentElement();
                }
            } else {
                xml.skipCurrentElement();
            }
        }
    }
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    if (xml.hasError()) {
        m_error = QStringLiteral("not well-formed XML at line %1: %2")
                      .arg(xml.lineNumber())
                      .arg(xml.errorString());
    } else if (!sawChannel) {
        m_error = QStringLiteral("not an appcast: no RSS channel");
    }
    if (!m_error.isEmpty()) {
        m_items.clear();
        return false;
    }
    return true;
}

std::optional<AppcastRelease> AppcastParser::newestFor(const QString &os,
                                                       const QString &currentVersion) const
{
    std::optional<AppcastRelease> best;
    for (const AppcastItem &item : m_items) {
        if (!item.channel.isEmpty())
            continue;
        // An enclosure naming this system wins over one meant for every system.
        std::optional<AppcastEnclosure> enclosure;
        for (const AppcastEnclosure &e : item.enclosures) {
            const QString effective = e.os.isEmpty() ? item.os : e.os;
            if (!effective.isEmpty() && osMatches(effective, os)) {
                enclosure = e;
                break;
            }
            if (effective.isEmpty() && !enclosure)
                enclosure = e;
        }
        if (item.enclosures.isEmpty() ? !osMatches(item.os, os) : !enclosure)
            continue;
        AppcastRelease r;
        r.version = !item.version.isEmpty() ? item.version
                    : enclosure             ? enclosure->version
                                            : QString();
        if (r.version.isEmpty())
            continue;
        r.displayVersion = !item.shortVersion.isEmpty() ? item.shortVersion
                           : enclosure && !enclosure->shortVersion.isEmpty()
                               ? enclosure->shortVersion
                               : r.version;
        if (VersionComparator::compare(r.version, currentVersion) <= 0)
            continue;
        if (best && VersionComparator::compare(r.version, best->version) <= 0)
            continue;
        r.notes = item.description;
        r.notesLink = item.releaseNotesLink;
        r.link = item.link;
        r.enclosure = enclosure;
        best = r;
    }
    return best;
}
