#include "update/appcastparser.h"

#include "update/versioncomparator.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
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
        if (isPlain(xml, QStringLiteral("description"))) {
            const QStringRef format =
                xml.attributes().value(AppcastParser::sparkleNamespace, QLatin1String("format"));
            item.description = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            item.descriptionIsHtml = format.isEmpty() || format == QLatin1String("html");
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
    return !value.isEmpty() && value.compare(os, Qt::CaseInsensitive) == 0;
}

// Control and format characters (bidirectional overrides among them) would
// let a feed disguise what the user reads.
bool isInvisible(QChar c)
{
    return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
}

QString capped(QString text, int limit)
{
    if (text.size() <= limit)
        return text;
    text.truncate(limit - 1);
    if (text.at(text.size() - 1).isHighSurrogate())
        text.chop(1);
    return text + QChar(0x2026);
}

// A version text as it may be shown: one line of visible characters.
QString shownVersion(const QString &text)
{
    QString shown;
    for (const QChar c : text.left(4 * AppcastParser::maxVersionLength)) {
        if (!isInvisible(c) || c == QLatin1Char('\t') || c == QLatin1Char('\n'))
            shown += c;
    }
    return capped(shown.simplified(), AppcastParser::maxVersionLength);
}

// Gathers the visible text of HTML: runs of white space become one space,
// block boundaries a line break or one empty line.
class NotesWriter
{
public:
    explicit NotesWriter(int limit)
        : m_limit(limit)
    {
    }
    bool full() const { return m_text.size() > m_limit; }
    void space() { m_space = true; }
    void lineBreak(int lines) { m_breaks = qMax(m_breaks, lines); }
    void append(const QString &text)
    {
        for (const QChar c : text)
            append(c);
    }
    void append(QChar c)
    {
        if (c.isSpace()) {
            m_space = true;
            return;
        }
        if (isInvisible(c))
            return;
        if (!m_text.isEmpty()) {
            if (m_breaks > 0)
                m_text += QString(m_breaks, QLatin1Char('\n'));
            else if (m_space)
                m_text += QLatin1Char(' ');
        }
        m_breaks = 0;
        m_space = false;
        m_text += c;
    }
    QString text() const { return capped(m_text, m_limit); }

private:
    const int m_limit;
    QString m_text;
    int m_breaks = 0;
    bool m_space = false;
};

// The character an entity such as "&amp;" or "&#233;" stands for; empty for
// anything else.
QString entity(const QString &name)
{
    if (name.startsWith(QLatin1Char('#'))) {
        bool ok = false;
        const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive)
                              ? name.midRef(2).toUInt(&ok, 16)
                              : name.midRef(1).toUInt(&ok, 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return QString();
        const char32_t c = code;
        return QString::fromUcs4(&c, 1);
    }
    static const QHash<QString, QString> named = {
        {QStringLiteral("amp"), QStringLiteral("&")},
        {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},
        {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},
        {QStringLiteral("nbsp"), QStringLiteral(" ")},
        {QStringLiteral("ndash"), QString(QChar(0x2013))},
        {QStringLiteral("mdash"), QString(QChar(0x2014))},
        {QStringLiteral("hellip"), QString(QChar(0x2026))},
        {QStringLiteral("laquo"), QString(QChar(0x00AB))},
        {QStringLiteral("raquo"), QString(QChar(0x00BB))},
        {QStringLiteral("copy"), QString(QChar(0x00A9))}};
    return named.value(name);
}

QString htmlToPlainText(const QString &html, int limit)
{
    static const QSet<QString> hidden = {QStringLiteral("script"), QStringLiteral("style"),
                                         QStringLiteral("head"), QStringLiteral("title"),
                                         QStringLiteral("template")};
    static const QSet<QString> paragraphs = {
        QStringLiteral("p"),   QStringLiteral("h1"),    QStringLiteral("h2"),
        QStringLiteral("h3"),  QStringLiteral("h4"),    QStringLiteral("h5"),
        QStringLiteral("h6"),  QStringLiteral("ul"),    QStringLiteral("ol"),
        QStringLiteral("dl"),  QStringLiteral("table"), QStringLiteral("blockquote"),
        QStringLiteral("pre"), QStringLiteral("hr")};
    static const QSet<QString> lines = {QStringLiteral("br"), QStringLiteral("div"),
                                        QStringLiteral("tr"), QStringLiteral("dt"),
                                        QStringLiteral("dd")};
    NotesWriter out(limit);
    const int n = html.size();
    int i = 0;
    // Every step moves i forward past what it read, and no text is read
    // twice, so the work grows with the input and stops at the limit.
    while (i < n && !out.full()) {
        const QChar c = html.at(i);
        if (c == QLatin1Char('&')) {
            int end = i + 1;
            while (end < n && end - i <= 10 &&
                   (html.at(end).isLetterOrNumber() || html.at(end) == QLatin1Char('#')))
                ++end;
            const QString decoded = end < n && html.at(end) == QLatin1Char(';')
                                        ? entity(html.mid(i + 1, end - i - 1))
                                        : QString();
            if (decoded.isEmpty()) {
                out.append(c);
                ++i;
            } else {
                out.append(decoded);
                i = end + 1;
            }
            continue;
        }
        const QChar next = i + 1 < n ? html.at(i + 1) : QChar();
        if (c != QLatin1Char('<') || !(next.isLetter() || next == QLatin1Char('/') ||
                                       next == QLatin1Char('!') || next == QLatin1Char('?'))) {
            out.append(c);
            ++i;
            continue;
        }
        if (html.midRef(i, 4) == QLatin1String("<!--")) {
            const int end = html.indexOf(QLatin1String("-->"), i + 4);
            i = end < 0 ? n : end + 3;
            continue;
        }
        const int end = html.indexOf(QLatin1Char('>'), i + 1);
        if (end < 0)
            break; // an unfinished tag: the rest is markup
        int start = i + 1;
        const bool closing = html.at(start) == QLatin1Char('/');
        if (closing)
            ++start;
        int nameEnd = start;
        while (nameEnd < end && html.at(nameEnd).isLetterOrNumber())
            ++nameEnd;
        const QString name = html.mid(start, nameEnd - start).toLower();
        i = end + 1;
        if (!closing && hidden.contains(name)) {
            const int close = html.indexOf(QLatin1String("</") + name, i, Qt::CaseInsensitive);
            const int closeEnd = close < 0 ? -1 : html.indexOf(QLatin1Char('>'), close);
            i = closeEnd < 0 ? n : closeEnd + 1;
        } else if (name == QLatin1String("li")) {
            out.lineBreak(1);
            if (!closing)
                out.append(QStringLiteral("\u2022 "));
        } else if (paragraphs.contains(name)) {
            out.lineBreak(2);
        } else if (lines.contains(name)) {
            out.lineBreak(1);
        } else if (name == QLatin1String("td") || name == QLatin1String("th")) {
            out.space();
        }
    }
    return out.text();
}

QString plainToPlainText(const QString &text, int limit)
{
    QString plain;
    for (const QChar c : text.left(limit + 1)) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\t') || !isInvisible(c))
            plain += c;
    }
    // At most one empty line between paragraphs.
    plain.replace(QRegularExpression(QStringLiteral("[ \\t]+\\n")), QStringLiteral("\n"));
    plain.replace(QRegularExpression(QStringLiteral("\\n{3,}")), QStringLiteral("\n\n"));
    return capped(plain.trimmed(), limit);
}
} // namespace

QString AppcastParser::notesToPlainText(const QString &text, bool html)
{
    return html ? htmlToPlainText(text, maxNotesLength) : plainToPlainText(text, maxNotesLength);
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
        // An enclosure naming no system belongs to the system its item names.
        std::optional<AppcastEnclosure> enclosure;
        for (const AppcastEnclosure &e : item.enclosures) {
            if (osMatches(e.os.isEmpty() ? item.os : e.os, os)) {
                enclosure = e;
                break;
            }
        }
        if (!enclosure)
            continue;
        AppcastRelease r;
        r.version = !item.version.isEmpty() ? item.version : enclosure->version;
        if (r.version.isEmpty())
            continue;
        if (VersionComparator::compare(r.version, currentVersion) <= 0)
            continue;
        if (best && VersionComparator::compare(r.version, best->version) <= 0)
            continue;
        r.displayVersion = shownVersion(!item.shortVersion.isEmpty() ? item.shortVersion
                                                                     : enclosure->shortVersion);
        if (r.displayVersion.isEmpty())
            r.displayVersion = shownVersion(r.version);
        r.notes = notesToPlainText(item.description, item.descriptionIsHtml);
        r.notesLink = item.releaseNotesLink;
        r.enclosure = enclosure;
        best = r;
    }
    return best;
}
