#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

struct AppcastEnclosure {
    QUrl url;
    qint64 length = -1;
    QString edSignature;
    QString version;
    QString shortVersion;
    QString os;
};

struct AppcastItem {
    QString version;
    QString shortVersion;
    QString description;
    bool descriptionIsHtml = true;
    QUrl releaseNotesLink;
    QString os;
    QString channel;
    QList<AppcastEnclosure> enclosures;
};

// One release chosen for this platform, with the download that belongs to it.
struct AppcastRelease {
    QString version;        // compared
    QString displayVersion; // shown, plain text
    QString notes;          // plain text
    QUrl notesLink;
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

    static constexpr int maxNotesLength = 16 * 1024;
    static constexpr int maxVersionLength = 64;

    // The newest release newer than currentVersion with a download for the
    // operating system `os`: an enclosure naming it, or one naming no system
    // in an item that names it. Nothing that names no system, or another
    // one, is offered. Items of a named channel (betas) are not offered.
    std::optional<AppcastRelease> newestFor(const QString &os, const QString &currentVersion) const;

    // Release notes as plain text of at most maxNotesLength characters. Markup
    // is dropped in a single pass that stops at the limit, so no notes cost
    // more than reading them once.
    static QString notesToPlainText(const QString &text, bool html);

private:
    QString m_error;
    QList<AppcastItem> m_items;
};
