#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

struct AppcastEnclosure {
    QUrl url;
    qint64 length = -1;
    QString type;
    QString edSignature;
    QString version;
    QString shortVersion;
    QString os;
};

struct AppcastItem {
    QString title;
    QString version;
    QString shortVersion;
    QString description; // rich text
    QUrl releaseNotesLink;
    QUrl link;
    QString os;
    QString channel;
    QList<AppcastEnclosure> enclosures;
};

// One release chosen for this platform, with the download that belongs to it.
struct AppcastRelease {
    QString version;        // compared
    QString displayVersion; // shown
    QString notes;
    QUrl notesLink;
    QUrl link;
    std::optional<AppcastEnclosure> enclosure;
};

// Reads a Sparkle appcast: an RSS 2.0 channel whose items describe releases.
// The Sparkle elements and attributes are recognised by their namespace, not
// by the prefix a feed happens to give them.
class AppcastParser
{
public:
    static const QString sparkleNamespace;

    // False, with errorString() set, for anything that is not a well-formed
    // appcast; a channel without items is a valid, empty appcast.
    bool parse(const QByteArray &data);
    QString errorString() const { return m_error; }
    const QList<AppcastItem> &items() const { return m_items; }

    // The newest release meant for the operating system `os` (items and
    // enclosures naming no system are meant for every one) that is newer
    // than currentVersion. Items of a named channel (betas) are not offered.
    std::optional<AppcastRelease> newestFor(const QString &os, const QString &currentVersion) const;

    // Release notes given as plain text, made fit for a rich text view.
    static QString plainTextToHtml(const QString &text);

private:
    QString m_error;
    QList<AppcastItem> m_items;
};
