#include "update/appcastupdater.h"

#include "integration/autostarter.h"
#include "storage/appsettings.h"
#include "update/buildversion.h"
#include "update/signatureverifier.h"
#include "update/updater.h"
#include "update/versioncomparator.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

namespace
{
Q_LOGGING_CATEGORY(lcUpdate, "tovel3.update")
}

#ifndef TOVEL3_UPDATE_PUBLIC_KEY
#define TOVEL3_UPDATE_PUBLIC_KEY ""
#endif

namespace
{
const int transferTimeoutMs = 30000;
const int feedTimeoutMs = 60000;

// Feeds, notes and downloads come over https only; plain http is let
// through on the loopback interface alone, where no one else can answer.
bool isAcceptedAddress(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    return url.scheme() == QLatin1String("http") &&
           (url.host() == QLatin1String("localhost") || QHostAddress(url.host()).isLoopback());
}
} // namespace

AppcastUpdater::AppcastUpdater(const QString &feedUrl, int startDelay)
    : m_feedUrl(feedUrl)
    , m_system(thisSystem())
    , m_currentVersion(QCoreApplication::applicationVersion())
    , m_restart(restartWhenEnded)
    , m_dailyTimer(new QTimer(this))
{
    if (m_currentVersion.isEmpty())
        m_currentVersion = QStringLiteral(TOVEL3_VERSION);
    const QByteArray key = builtInPublicKey();
    if (!key.isEmpty()) {
        const auto decoded =
            QByteArray::fromBase64Encoding(key, QByteArray::AbortOnBase64DecodingErrors);
        if (decoded && decoded.decoded.size() == 32)
            m_publicKey = decoded.decoded;
        else
            qCWarning(lcUpdate)
                << "The update key of this build is not a base64 Ed25519 key; updates "
                   "will not be installed automatically";
    }
    m_dailyTimer->setInterval(3600 * 1000);
    connect(m_dailyTimer, &QTimer::timeout, this, &AppcastUpdater::checkIfDue);
    m_dailyTimer->start();
    QTimer::singleShot(startDelay, this, &AppcastUpdater::checkIfDue);
}

AppcastUpdater::~AppcastUpdater()
{
    for (QNetworkReply *reply : {m_feedReply.data(), m_notesReply.data(), m_download.data()}) {
        if (reply) {
            disconnect(reply, nullptr, this, nullptr);
            reply->abort();
        }
    }
}

QByteArray AppcastUpdater::builtInPublicKey()
{
    return QByteArray(TOVEL3_UPDATE_PUBLIC_KEY).trimmed();
}

QString AppcastUpdater::installTarget() const
{
    return m_installTarget.isEmpty() ? AutoStarter::executablePath() : m_installTarget;
}

void AppcastUpdater::setRestartHandler(std::function<void(const QString &)> handler)
{
    m_restart = std::move(handler);
}

bool AppcastUpdater::canReplace(const QString &path, QString *reason)
{
    auto refuse = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    const QFileInfo fi(path);
    if (!fi.isFile())
        return refuse(tr("The program file %1 was not found.").arg(path));
    const QString canonical = fi.canonicalFilePath();
    static const char *const systemDirs[] = {
        "/usr/", "/bin/", "/sbin/", "/lib/", "/lib64/", "/snap/", "/var/lib/flatpak/", "/nix/"};
    for (const char *dir : systemDirs) {
        if (canonical.startsWith(QLatin1String(dir)))
            return refuse(tr("The program is installed for the whole system; update it with the "
                             "system's package manager."));
    }
    if (!fi.isWritable() || !QFileInfo(fi.absolutePath()).isWritable() || !isOwnFile(fi))
        return refuse(tr("You may not replace the program file %1.").arg(canonical));
    return true;
}

QNetworkReply *AppcastUpdater::get(const QUrl &url, qint64 maxSize, int overallTimeoutMs)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Tovel3/%1").arg(m_currentVersion));
    request.setTransferTimeout(transferTimeoutMs);
    // Made on the first request: creating it loads the network plug-ins and
    // starts their threads, which the window's start-up need not wait for.
    if (!m_net)
        m_net = new QNetworkAccessManager(this);
    QNetworkReply *reply = m_net->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [reply, maxSize](qint64 received, qint64 total) {
                if (received > maxSize || total > maxSize) {
                    reply->setProperty("tooLarge", true);
                    reply->abort();
                }
            });
    if (overallTimeoutMs > 0) {
        auto *timer = new QTimer(reply);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, reply, [reply] {
            reply->setProperty("timedOut", true);
            reply->abort();
        });
        timer->start(overallTimeoutMs);
    }
    return reply;
}

void AppcastUpdater::checkIfDue()
{
    AppSettings settings;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime last = settings.lastUpdateCheck();
    if (!last.isValid()) {
        // A fresh installation is the newest; the first look is due a day later.
        settings.setLastUpdateCheck(now);
        return;
    }
    if (qAbs(last.secsTo(now)) >= checkInterval)
        checkUpdate();
}

void AppcastUpdater::checkUpdate()
{
    if (isChecking())
        return;
    AppSettings().setLastUpdateCheck(QDateTime::currentDateTimeUtc());
    const QUrl url(m_feedUrl);
    if (!isAcceptedAddress(url)) {
        qCWarning(lcUpdate).noquote() << "Update check refused: the feed address" << m_feedUrl
                                      << "is neither https nor on this machine";
        failCheck(tr("The update address %1 is refused: only https addresses are accepted.")
                      .arg(m_feedUrl.left(200)));
        return;
    }
    m_feedReply = get(url, maxFeedSize, feedTimeoutMs);
    connect(m_feedReply, &QNetworkReply::finished, this, &AppcastUpdater::feedFinished);
}

void AppcastUpdater::failCheck(const QString &reason)
{
    qCDebug(lcUpdate).noquote() << "Update check failed:" << reason;
    emit checkFailed(reason);
    emit checkFinished(false);
}

void AppcastUpdater::feedFinished()
{
    QNetworkReply *reply = m_feedReply;
    m_feedReply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    if (reply->property("tooLarge").toBool())
        return failCheck(tr("The update feed %1 is larger than %2 MB.")
                             .arg(m_feedUrl)
                             .arg(maxFeedSize / (1024 * 1024)));
    if (reply->property("timedOut").toBool())
        return failCheck(tr("The update feed %1 did not arrive within %2 s.")
                             .arg(m_feedUrl)
                             .arg(feedTimeoutMs / 1000));
    if (reply->error() != QNetworkReply::NoError)
        return failCheck(reply->errorString());

    AppcastParser parser;
    if (!parser.parse(reply->readAll()))
        return failCheck(
            tr("The update feed %1 cannot be read: %2").arg(m_feedUrl, parser.errorString()));
    std::optional<AppcastRelease> release = parser.newestFor(m_system, m_currentVersion);
    if (!release) {
        qCDebug(lcUpdate).noquote()
            << "Update check: no version newer than" << m_currentVersion << "in" << m_feedUrl;
        emit upToDate();
        emit checkFinished(false);
        return;
    }
    const QUrl base = reply->url();
    if (release->enclosure)
        release->enclosure->url = base.resolved(release->enclosure->url);
    if (!release->notesLink.isEmpty())
        release->notesLink = base.resolved(release->notesLink);

    if (release->notes.isEmpty() && isAcceptedAddress(release->notesLink)) {
        m_found = release;
        m_notesReply = get(release->notesLink, maxNotesSize, feedTimeoutMs);
        connect(m_notesReply, &QNetworkReply::finished, this, &AppcastUpdater::notesFinished);
        return;
    }
    announce(*release);
}

void AppcastUpdater::notesFinished()
{
    QNetworkReply *reply = m_notesReply;
    m_notesReply = nullptr;
    if (!reply || !m_found)
        return;
    reply->deleteLater();
    AppcastRelease release = *m_found;
    m_found.reset();
    if (reply->error() == QNetworkReply::NoError && !reply->property("tooLarge").toBool()) {
        const QString text = QString::fromUtf8(reply->readAll());
        const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
        release.notes =
            AppcastParser::notesToPlainText(text, !type.startsWith(QLatin1String("text/plain")));
    } else {
        qCDebug(lcUpdate).noquote() << "Release notes not loaded from"
                                    << release.notesLink.toString() << ":" << reply->errorString();
        release.notes = tr("The release notes could not be loaded.");
    }
    announce(release);
}

void AppcastUpdater::announce(const AppcastRelease &release)
{
    m_pending = release;
    qCDebug(lcUpdate).noquote() << "Update check: version" << release.displayVersion
                                << "is available";
    emit newVersion(release.displayVersion, release.notes);
    emit checkFinished(true);
}

void AppcastUpdater::doUpdate()
{
    if (m_download)
        return;
    if (!m_pending) {
        emit updateStatus(tr("No updates available"));
        emit updateFinished(false);
        return;
    }
    const AppcastRelease &release = *m_pending;
    if (!release.enclosure || !isAcceptedAddress(release.enclosure->url))
        return notInstalled(
            tr("Version %1 offers no download for this system.").arg(release.displayVersion));
    if (m_publicKey.size() != 32)
        return verificationFailed(tr("This build cannot verify updates."));
    if (release.enclosure->edSignature.isEmpty())
        return verificationFailed(tr("The update carries no signature."));
    QString reason;
    // An installer asks for the rights it needs itself.
    if (!installsSetup() && !canReplace(installTarget(), &reason))
        return notInstalled(reason);
    emit updateStatus(tr("Downloading version %1…").arg(release.displayVersion));
    const qint64 length = release.enclosure->length;
    m_download = get(release.enclosure->url, length > 0 ? length : maxDownloadSize, 0);
    connect(m_download, &QNetworkReply::finished, this, &AppcastUpdater::downloadFinished);
}

void AppcastUpdater::downloadFinished()
{
    QNetworkReply *reply = m_download;
    m_download = nullptr;
    if (!reply || !m_pending)
        return;
    reply->deleteLater();
    const AppcastEnclosure &enclosure = *m_pending->enclosure;
    if (reply->property("tooLarge").toBool())
        return verificationFailed(tr("The download is larger than announced."));
    if (reply->error() != QNetworkReply::NoError) {
        // The reason names the address, which the user is not to be sent to.
        qCDebug(lcUpdate).noquote() << "Update download failed:" << reply->errorString();
        return notInstalled(tr("The download failed."));
    }
    const QByteArray program = reply->readAll();
    if (enclosure.length >= 0 && program.size() != enclosure.length)
        return verificationFailed(tr("The download has the wrong size."));
    if (!SignatureVerifier::verify(m_publicKey, program, enclosure.edSignature.toLatin1()))
        return verificationFailed(tr("The signature of the download does not match."));
    const QByteArray magic = installsSetup() ? QByteArray("MZ")
                                             : QByteArray("\x7f"
                                                          "ELF");
    if (!program.startsWith(magic))
        return verificationFailed(tr("The download is not a program for this system."));
    // The feed may name any version; the build says which it is.
    const std::optional<QString> built = BuildVersion::of(program);
    if (!built)
        return verificationFailed(tr("The download does not say which version it is."));
    if (VersionComparator::compare(*built, m_currentVersion) <= 0)
        return notInstalled(tr("The download is version %1, not newer than this version %2.")
                                .arg(*built, m_currentVersion));
    if (installsSetup())
        return startInstaller(program, *built);
    install(program);
}

void AppcastUpdater::startInstaller(const QByteArray &installer, const QString &version)
{
    // Saved in the user's own temporary folder, named after its version
    // (letters, digits, dots and dashes only).
    QString name = version.left(32);
    for (QChar &c : name) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    }
    const QString path = QStandardPaths::writableLocation(QStandardPaths::TempLocation) +
                         QStringLiteral("/tovel3-%1-setup.exe").arg(name);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(installer) != installer.size() ||
        !file.commit())
        return notInstalled(tr("The installer cannot be saved: %1").arg(file.errorString()));
    qCDebug(lcUpdate).noquote() << "Update: the installer of version" << m_pending->displayVersion
                                << "starts from" << path;
    emit updateStatus(tr("The installer of version %1 starts now; the application closes.")
                          .arg(m_pending->displayVersion));
    emit updateFinished(true);
    if (m_restart)
        m_restart(path);
}

void AppcastUpdater::install(const QByteArray &program)
{
    const QString target = QFileInfo(installTarget()).canonicalFilePath();
    QString reason;
    if (target.isEmpty() || !canReplace(target, &reason))
        return notInstalled(reason.isEmpty() ? tr("The program file was not found.") : reason);
    const QFileDevice::Permissions permissions =
        QFileInfo(target).permissions() | QFileDevice::ExeOwner | QFileDevice::ReadOwner;
    QSaveFile file(target);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size() ||
        !file.setPermissions(permissions) || !file.commit())
        return notInstalled(tr("The program file cannot be replaced: %1").arg(file.errorString()));
    QFile::setPermissions(target, permissions);
    qCDebug(lcUpdate).noquote() << "Update: version" << m_pending->displayVersion << "installed as"
                                << target;
    emit updateStatus(tr("Version %1 is installed. The application restarts now.")
                          .arg(m_pending->displayVersion));
    emit updateFinished(true);
    if (m_restart)
        m_restart(target);
}

void AppcastUpdater::verificationFailed(const QString &reason)
{
    notInstalled(reason, tr("The update failed verification and was not installed."));
}

void AppcastUpdater::notInstalled(const QString &reason, const QString &outcome)
{
    // The file the feed named is not trusted, and neither is any other
    // address of the feed: only the maker's own download page is offered.
    qCDebug(lcUpdate).noquote() << "Update not installed:" << reason;
    const QString page = Updater::downloadPageUrl().toString();
    const QString said = (outcome.isEmpty() ? tr("The update was not installed.") : outcome) +
                         QLatin1Char('\n') + reason + QLatin1Char('\n');
    // Told as it is: being opened, opened, or not (then the address to copy).
    m_browser.disconnect(this);
    connect(&m_browser, &FileOpener::opened, this, [this, said, page] {
        emit updateStatus(
            said + tr("The download page %1 has been opened in your web browser.").arg(page));
    });
    connect(&m_browser, &FileOpener::failed, this, [this, said, page] {
        emit updateStatus(said + tr("No web browser could be opened. Updates can be downloaded "
                                    "from %1.")
                                     .arg(page));
    });
    emit updateStatus(said +
                      tr("The download page %1 is being opened in your web browser.").arg(page));
    emit updateFinished(false);
    m_browser.open(page);
}
