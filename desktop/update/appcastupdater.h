#pragma once

#include "integration/fileopener.h"
#include "update/appcastparser.h"
#include "update/brennicupdater.h"

#include <QByteArray>
#include <QDateTime>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QFileInfo;
class QNetworkAccessManager;

class QTimer;

// The update mechanism where no update library exists: reads the appcast
// (https only; plain http on loopback) with Qt Network on the GUI thread's
// event loop (never blocking it), announces the newest release for this
// system, and installs it only when its download carries a valid Ed25519
// signature by the build's key. Otherwise it says why and offers only the
// maker's download page, never the file the feed named. A download that is
// not newer than the running program, by the version it carries itself (see
// BuildVersion), is never installed, whatever the feed said of it. On
// Windows the download is the signed installer, which is started once its
// version resource names a newer version.
class AppcastUpdater : public QObject, public BrennicUpdater
{
    Q_OBJECT

public:
    static constexpr qint64 maxFeedSize = 4 * 1024 * 1024;
    static constexpr qint64 maxNotesSize = 1024 * 1024;
    static constexpr qint64 maxDownloadSize = 512 * 1024 * 1024;
    static constexpr int checkInterval = 24 * 3600; // seconds between automatic checks
    static constexpr int startDelayMs = 10000;      // from start-up to the first look

    // The first automatic look comes `startDelay` ms after construction.
    explicit AppcastUpdater(const QString &feedUrl, int startDelay = startDelayMs);
    ~AppcastUpdater() override;

    void checkUpdate() override;
    void doUpdate() override;
    bool reportsOutcome() const override { return true; }

    QString feedUrl() const { return m_feedUrl; }
    bool isChecking() const { return m_feedReply || m_notesReply; }
    std::optional<AppcastRelease> pendingRelease() const { return m_pending; }

    // The build's key, base64 of the raw 32 bytes; empty when none was given.
    static QByteArray builtInPublicKey();
    // Raw 32-byte key the downloads must be signed with.
    void setPublicKey(const QByteArray &key) { m_publicKey = key; }
    // The program file an update replaces (default: the running one).
    void setInstallTarget(const QString &path) { m_installTarget = path; }
    QString installTarget() const;
    // What runs once the update is in place (default: start the new program
    // when this process has ended, and quit).
    void setRestartHandler(std::function<void(const QString &)> handler);

    // Whether an update may replace the given program file in place.
    static bool canReplace(const QString &path, QString *reason = nullptr);

    // The system whose downloads are taken: "linux", a program that
    // replaces this one in place, or "windows", an installer that is saved
    // and started (the restart handler gets its path). This one by default.
    void setSystem(const QString &os) { m_system = os; }
    QString system() const { return m_system; }

public slots:
    // Starts an automatic check when the last one lies a day back.
    void checkIfDue();

signals:
    // The version and its release notes, both plain text of bounded length.
    void newVersion(const QString &version, const QString &changelog);
    // The feed was read and names no newer version for this system.
    void upToDate();
    // The check could not be made: why, as plain text.
    void checkFailed(const QString &reason);
    // Plain text telling the user what became of doUpdate().
    void updateStatus(const QString &text);
    // After every check, after newVersion(), upToDate() or checkFailed().
    void checkFinished(bool updateFound);
    void updateFinished(bool installed);

private:
    // The system's half (appcastupdater_<system>.cpp): the system's name in
    // the feed, what takes over once an update is in place (the default
    // restart handler), and whether a program file is this user's own where
    // the system has owners.
    static QString thisSystem();
    static void restartWhenEnded(const QString &program);
    static bool isOwnFile(const QFileInfo &file);

    QNetworkReply *get(const QUrl &url, qint64 maxSize, int overallTimeoutMs);
    void feedFinished();
    void notesFinished();
    void downloadFinished();
    void announce(const AppcastRelease &release);
    void failCheck(const QString &reason);
    void verificationFailed(const QString &reason);
    void notInstalled(const QString &reason, const QString &outcome = QString());
    void install(const QByteArray &program);
    void startInstaller(const QByteArray &installer, const QString &version);
    bool installsSetup() const { return m_system == QLatin1String("windows"); }

    QString m_feedUrl;
    QString m_system;
    QString m_currentVersion;
    QByteArray m_publicKey;
    QString m_installTarget;
    std::function<void(const QString &)> m_restart;
    FileOpener m_browser; // opens the maker's download page
    QNetworkAccessManager *m_net = nullptr;
    QTimer *m_dailyTimer;
    QPointer<QNetworkReply> m_feedReply;
    QPointer<QNetworkReply> m_notesReply;
    QPointer<QNetworkReply> m_download;
    std::optional<AppcastRelease> m_found;   // waiting for its notes
    std::optional<AppcastRelease> m_pending; // announced, may be installed
};
