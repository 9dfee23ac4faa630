// The autostart entry as an XDG autostart desktop file.
#include "integration/autostarter.h"
#include "integration/xdgautostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace
{
struct DesktopEntry {
    bool exists = false;
    QString type;
    QString exec;
    bool hidden = false;
    bool gnomeDisabled = false;

    bool enabled() const
    {
        return exists && type == QLatin1String("Application") && !hidden && !gnomeDisabled;
    }
};

// Undoes the escapes every desktop entry string value may carry.
QString unescapeValue(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    for (int i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != QLatin1Char('\\') || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar n = raw.at(++i);
        switch (n.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            out += c;
            out += n;
        }
    }
    return out;
}

QString escapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case ' ':
            out += i == 0 ? QLatin1String("\\s") : QLatin1String(" ");
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool isTrue(const QString &v)
{
    return v.trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

bool isFalse(const QString &v)
{
    return v.trimmed().compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
}

DesktopEntry readEntry(const QString &path)
{
    DesktopEntry e;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return e;
    e.exists = true;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    bool inMain = false;
    bool seen[4] = {false, false, false, false};
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString t = line.trimmed();
        if (t.isEmpty() || t.startsWith(QLatin1Char('#')))
            continue;
        if (t.startsWith(QLatin1Char('['))) {
            inMain = t == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain)
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = unescapeValue(line.mid(eq + 1).trimmed());
        // Duplicate keys make an entry invalid; the first one counts here.
        if (key == QLatin1String("Type") && !seen[0]) {
            seen[0] = true;
            e.type = value;
        } else if (key == QLatin1String("Exec") && !seen[1]) {
            seen[1] = true;
            e.exec = value;
        } else if (key == QLatin1String("Hidden") && !seen[2]) {
            seen[2] = true;
            e.hidden = isTrue(value);
        } else if (key == QLatin1String("X-GNOME-Autostart-enabled") && !seen[3]) {
            seen[3] = true;
            e.gnomeDisabled = isFalse(value);
        }
    }
    return e;
}

QString fileName()
{
    return AutoStarter::entryName() + QLatin1String(".desktop");
}

// System-wide entries of the same name apply unless the user's entry hides them.
QString systemEntryFile()
{
    QString dirs = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_DIRS"));
    if (dirs.isEmpty())
        dirs = QStringLiteral("/etc/xdg");
    for (const QString &dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString path = dir + QLatin1String("/autostart/") + fileName();
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

DesktopEntry effectiveEntry()
{
    const DesktopEntry user = readEntry(XdgAutostart::entryFile());
    if (user.exists)
        return user;
    const QString system = systemEntryFile();
    return system.isEmpty() ? DesktopEntry() : readEntry(system);
}

QByteArray entryText(const QString &command)
{
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Tovel3\n"
                                  "Comment=Keeps the USB watchdog board fed\n");
    text += QLatin1String("Exec=") + escapeValue(command) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool writeFile(const QByteArray &content)
{
    const QString path = XdgAutostart::entryFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(content);
    return f.commit();
}
} // namespace

QString AutoStarter::executablePath()
{
    // Inside an AppImage the running file lies in a read-only mount that is
    // gone after exit; the image itself is what starts the program again.
    const QString image = QFile::decodeName(qgetenv("APPIMAGE"));
    if (!image.isEmpty() && QFileInfo(image).isFile())
        return QFileInfo(image).absoluteFilePath();
    return QCoreApplication::applicationFilePath();
}

QString AutoStarter::expectedCommand(const QString &program)
{
    return XdgAutostart::execQuote(program);
}

QString XdgAutostart::entryFile()
{
    QString config = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QLatin1String("/.config");
    return config + QLatin1String("/autostart/") + fileName();
}

QString XdgAutostart::execQuote(const QString &argument)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        // A lone percent sign would be taken for a field code.
        if (c == QLatin1Char('%'))
            out += QLatin1Char('%');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QByteArray XdgAutostart::desktopEntry(const QString &program)
{
    return entryText(XdgAutostart::execQuote(program));
}

QString AutoStarter::readCommand() const
{
    const DesktopEntry e = effectiveEntry();
    return e.enabled() ? e.exec : QString();
}

void AutoStarter::writeCommand(const QString &command)
{
    writeFile(entryText(command));
}

void AutoStarter::removeCommand()
{
    QFile::remove(XdgAutostart::entryFile());
    if (effectiveEntry().enabled())
        writeFile(
            QByteArrayLiteral("[Desktop Entry]\nType=Application\nName=Tovel3\nHidden=true\n"));
}
