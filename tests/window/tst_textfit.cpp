// What a user sees on every screen of the real window, in English and in
// Russian: each tab, each list pop-up and each dialog. Every text fits its
// control (not elided, not clipped, not running out of its cell, not over
// another text), and a control that cannot be seen takes no input.
#include "monitor/heartbeat.h"
#include "service/loadtranslations.h"
#include "support/pingstandin.h"
#include "support/testenvironment.h"
#include "support/windowharness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QQmlContext>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScopeGuard>
#include <QScreen>
#include <QTranslator>
#include <QtTest>

#include <functional>

using namespace WindowTest;

namespace
{
bool isText(const QQuickItem *item)
{
    return item->inherits("QQuickText") || item->inherits("QQuickTextInput") ||
           item->inherits("QQuickTextEdit");
}

bool takesInput(const QQuickItem *item)
{
    for (const char *type : {"QQuickAbstractButton", "QQuickSlider", "QQuickRangeSlider",
                             "QQuickComboBox", "QQuickSpinBox", "QQuickDial", "QQuickTextEdit"}) {
        if (item->inherits(type))
            return true;
    }
    if (item->inherits("QQuickTextInput"))
        return !item->property("readOnly").toBool();
    return item->inherits("QQuickMouseArea") && item->acceptedMouseButtons() != Qt::NoButton;
}

// The item's QML id, or that of its nearest ancestor that has one.
QString nameOf(QQuickItem *item)
{
    QString path = QString::fromLatin1(item->metaObject()->className()).section('_', 0, 0);
    for (QQuickItem *i = item; i; i = i->parentItem()) {
        const QQmlContext *context = qmlContext(i);
        const QString id = context ? context->nameForObject(i) : QString();
        if (!id.isEmpty())
            return i == item ? id : id + " > " + path;
    }
    return path;
}

QRectF sceneBox(const QQuickItem *item)
{
    return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
}

// A scrolling view shows its content a part at a time: what lies above or
// below the view is scrolled away, not cut off.
bool scrolls(const QQuickItem *item)
{
    return item->inherits("QQuickFlickable") ||
           (item->parentItem() && item->parentItem()->inherits("QQuickFlickable"));
}

// Where a text item draws its glyphs, in its own coordinates.
QRectF drawnRect(const QQuickItem *t, QRectF *box)
{
    const qreal left = t->property("leftPadding").toReal();
    const qreal top = t->property("topPadding").toReal();
    *box = QRectF(left, top, t->width() - left - t->property("rightPadding").toReal(),
                  t->height() - top - t->property("bottomPadding").toReal());
    const QSizeF content(t->property("contentWidth").toReal(),
                         t->property("contentHeight").toReal());
    const int h = t->property("effectiveHorizontalAlignment").toInt();
    const int v = t->property("verticalAlignment").toInt();
    const qreal dx = box->width() - content.width();
    const qreal dy = box->height() - content.height();
    return QRectF(QPointF(left + ((h & Qt::AlignRight)     ? dx
                                  : (h & Qt::AlignHCenter) ? dx / 2
                                                           : 0),
                          top + ((v & Qt::AlignBottom)    ? dy
                                 : (v & Qt::AlignVCenter) ? dy / 2
                                                          : 0)),
                  content);
}

constexpr qreal slack = 1.0;

struct Shown {
    QQuickItem *item;
    QQuickItem *layer; // the pop-up it is in; null on the page itself
    QRectF drawn;      // in scene coordinates, cut to what is scrolled into sight
};

class ScreenCheck
{
public:
    ScreenCheck(QQuickWindow *window, const QString &screen)
        : m_window(window)
        , m_screen(screen)
    {
        walk(window->contentItem(), nullptr, QRectF(QPointF(), window->size()));
    }

    QStringList problems()
    {
        for (const Shown &s : m_texts)
            checkFit(s);
        for (int i = 0; i < m_texts.size(); ++i) {
            for (int j = i + 1; j < m_texts.size(); ++j)
                checkOverlap(m_texts[i], m_texts[j]);
        }
        const QImage shot = m_window->screen()->grabWindow(m_window->winId()).toImage();
        if (shot.isNull())
            m_problems << m_screen + ": no picture of the window";
        const QString dir = qEnvironmentVariable("TOVEL3_RENDER_DIR");
        if (!dir.isEmpty())
            shot.save(dir + "/" + m_screen + ".png");
        for (const Shown &s : m_inputs) {
            if (s.layer == m_top && uniform(shot, s.drawn))
                report(s.item, "takes input but cannot be seen (drawn in one colour)");
        }
        return m_problems;
    }

private:
    void walk(QQuickItem *item, QQuickItem *layer, QRectF sight)
    {
        if (!item->isVisible() || item->opacity() < 0.01)
            return;
        if (item->inherits("QQuickPopupItem")) {
            layer = item;
            m_top = item;
        }
        const QRectF box = sceneBox(item);
        if (item->inherits("QQuickFlickable"))
            sight &= box;
        if (isText(item) && !item->property("text").toString().trimmed().isEmpty()) {
            QRectF own;
            const QRectF drawn = drawnRect(item, &own);
            m_texts.append({item, layer, item->mapRectToScene(drawn) & sight});
        }
        if (takesInput(item) && item->isEnabled())
            m_inputs.append({item, layer, box & sight});
        for (QQuickItem *child : item->childItems())
            walk(child, layer, sight);
    }

    void report(QQuickItem *item, const QString &what)
    {
        const QString text = item->property("text").toString().left(40);
        const QString line = QString("%1: %2 \"%3\" %4").arg(m_screen, nameOf(item), text, what);
        if (!m_problems.contains(line))
            m_problems << line;
    }

    void checkFit(const Shown &s)
    {
        QQuickItem *t = s.item;
        if (t->property("truncated").toBool())
            report(t, "is elided");
        QRectF box;
        const QRectF drawn = drawnRect(t, &box);
        const qreal wider = drawn.width() - box.width();
        const qreal taller = drawn.height() - box.height();
        if (wider > slack || taller > slack) {
            report(t, QString("needs %1x%2 px, has %3x%4")
                          .arg(qCeil(drawn.width()))
                          .arg(qCeil(drawn.height()))
                          .arg(qFloor(box.width()))
                          .arg(qFloor(box.height())));
        }
        const QRectF glyphs = s.drawn;
        if (glyphs.isEmpty())
            return;
        // Every item around a text holds it; only the content items of the
        // window and of pop-ups hold their headers and footers outside.
        for (QQuickItem *a = t->parentItem(); a; a = a->parentItem()) {
            if (a->width() <= 0 || a->height() <= 0 || a->inherits("QQuickContentItem"))
                continue;
            const QRectF outer = sceneBox(a);
            qreal out = qMax(outer.left() - glyphs.left(), glyphs.right() - outer.right());
            if (!scrolls(a))
                out = qMax(out, qMax(outer.top() - glyphs.top(), glyphs.bottom() - outer.bottom()));
            if (out > slack) {
                report(t, QString("runs %1 px out of %2").arg(qCeil(out)).arg(nameOf(a)));
                break;
            }
        }
    }

    void checkOverlap(const Shown &a, const Shown &b)
    {
        if (a.layer != b.layer || a.item->isAncestorOf(b.item) || b.item->isAncestorOf(a.item))
            return;
        const QRectF both = a.drawn & b.drawn;
        if (both.width() > slack && both.height() > slack)
            report(a.item, QString("overlaps %1 \"%2\"")
                               .arg(nameOf(b.item), b.item->property("text").toString()));
    }

    static bool uniform(const QImage &shot, const QRectF &area)
    {
        const QRect r = area.toAlignedRect() & shot.rect();
        if (r.width() < 2 || r.height() < 2)
            return false;
        const QRgb first = shot.pixel(r.topLeft());
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                if (shot.pixel(x, y) != first)
                    return false;
            }
        }
        return true;
    }

    QQuickWindow *m_window;
    QString m_screen;
    QQuickItem *m_top = nullptr;
    QVector<Shown> m_texts;
    QVector<Shown> m_inputs;
    QStringList m_problems;
};

// The ToolTip attached to an item, if it has one.
const QObject *toolTipOf(const QQuickItem *item)
{
    for (const QObject *child : item->children()) {
        if (child->inherits("QQuickToolTipAttached"))
            return child;
    }
    return nullptr;
}

// A combo box shows each of its entries in full, not only the one chosen now.
QStringList entriesThatDoNotFit(QQuickItem *combo, const QString &screen)
{
    QStringList out;
    const int chosen = combo->property("currentIndex").toInt();
    for (int i = 0; i < combo->property("count").toInt(); ++i) {
        combo->setProperty("currentIndex", i);
        auto *content = combo->property("contentItem").value<QQuickItem *>();
        QRectF box;
        const QRectF drawn = drawnRect(content, &box);
        if (drawn.width() > box.width() + slack)
            out << QString("%1: %2 shows \"%3\" in %4 of %5 px")
                       .arg(screen, nameOf(combo), content->property("text").toString())
                       .arg(qFloor(box.width()))
                       .arg(qCeil(drawn.width()));
    }
    combo->setProperty("currentIndex", chosen);
    return out;
}

// The widget dialogs (message boxes): each label shows all its lines, each
// button all its text.
QStringList widgetProblems(const QString &screen)
{
    QStringList out;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        if (!qEnvironmentVariableIsEmpty("TOVEL3_RENDER_DIR"))
            top->grab().save(qEnvironmentVariable("TOVEL3_RENDER_DIR") + "/" + screen + ".png");
        for (QLabel *label : top->findChildren<QLabel *>()) {
            if (!label->isVisible() || label->text().isEmpty())
                continue;
            const bool fits = label->wordWrap()
                                  ? label->heightForWidth(label->width()) <= label->height()
                                  : label->sizeHint().width() <= label->width();
            if (!fits)
                out << QString("%1: label \"%2\" is cut off").arg(screen, label->text());
        }
        for (QAbstractButton *button : top->findChildren<QAbstractButton *>()) {
            if (button->isVisible() && button->sizeHint().width() > button->width())
                out << QString("%1: button \"%2\" is cut off").arg(screen, button->text());
        }
    }
    return out;
}
} // namespace

class TestScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installMessageHandler(); }
    void init() { startCase(); }
    void cleanup() { verifyNoQmlProblems(); }

    void everyTextFitsAndEverythingThatTakesInputShows_data() { addLanguageRows(); }

    void everyTextFitsAndEverythingThatTakesInputShows()
    {
        QFETCH(QString, language);
        // A two-channel board with its readings, the process check on (on
        // this program, which runs), the network check off (the longer text
        // in its field), logging on.
        writeSettings({{"UI/Language", language},
                       {"monitoron", true},
                       {"monitor", QFileInfo(QCoreApplication::applicationFilePath()).fileName()},
                       {"manualon", true},
                       {"logging/enable", true}});
        Language catalogues(language);

        // The board under a port name of the usual length ("/dev/ttyACM0").
        QTemporaryDir portDir("/tmp/t3-XXXXXX");
        BoardSimulator board(BoardSimulator::X2);
        QVERIFY(board.start(portDir.path() + "/ttyACM0"));
        qputenv("TOVEL3_EXTRA_PORTS", QFile::encodeName(board.portPath()));
        Harness h;
        QVERIFY(h.load());
        auto *window = h.window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto eval = [&h](const QString &e) { return h.eval(e); };
        // A short cycle until the board is identified and has sent its
        // reading, then the usual one.
        h.setCycle(200);
        QTRY_VERIFY_WITH_TIMEOUT(eval("Board.model !== ''").toBool(), 10000);
        // Once its settings are read the board's input shows its reading.
        QSignalSpy settingsRead(eval("Board").value<QObject *>(),
                                SIGNAL(settingsRead(int, QVariantList)));
        eval("Board.readSettings()");
        QTRY_VERIFY_WITH_TIMEOUT(eval("Board.inputKind > 0").toBool(), 10000);
        h.setCycle(Heartbeat::defaultInterval);

        // Each tab, what it waits for, and the dialogs it opens besides its
        // list pop-ups: (how to open it, the dialog).
        struct Tab {
            const char *name;
            std::function<bool()> ready;
            QVector<QPair<QString, QString>> dialogs;
        };
        const QVector<Tab> tabs = {
            {"main",
             [] { return true; },
             {{"page1.processListTool.clicked()", "page1.selectProcessDialog"}}},
            {"settings", [&] { return settingsRead.count() > 1; }, {}},
            {"application",
             [&] { return !eval("page3.updateLink.text").toString().isEmpty(); },
             {{"page3.logSetupDialog.open()", "page3.logSetupDialog"},
              {"page3.releaseNotes = 'Version 3.4: a steadier serial link.'; "
               "page3.notesDialog.open()",
               "page3.notesDialog"}}},
        };

        // Each fault once, with the first screen that shows it.
        QStringList problems;
        QSet<QString> seen;
        auto note = [&](const QStringList &found) {
            for (const QString &p : found) {
                if (!seen.contains(p.section(": ", 1)))
                    problems << p;
                seen << p.section(": ", 1);
            }
        };
        QSet<QObject *> opened;
        for (int i = 0; i < tabs.size(); ++i) {
            const Tab &tab = tabs[i];
            const QString screen = language + "-" + tab.name;
            eval(QString("tabBar.currentIndex = %1").arg(i));
            QTRY_VERIFY_WITH_TIMEOUT(tab.ready(), 10000);
            if (i == 2) // the longest notice, beside the language box
                eval("page3.languageChosen(App.language === 'ru' ? 0 : 1)");
            QTest::qWait(100);
            note(ScreenCheck(window, screen).problems());

            // The tab's dialogs, list pop-ups and tool tips: how each opens
            // and closes, and the pop-up.
            struct Popup {
                QString name;
                std::function<void()> open, close;
                QObject *popup;
            };
            QVector<Popup> popups;
            for (const auto &d : tab.dialogs)
                popups.append({d.second.section('.', 1), [=] { eval(d.first); },
                               [=] { eval(d.second + ".close()"); },
                               eval(d.second).value<QObject *>()});
            QObject *page = eval(QString("page%1").arg(i + 1)).value<QObject *>();
            for (QQuickItem *item : page->findChildren<QQuickItem *>()) {
                if (!item->isVisible())
                    continue;
                if (item->inherits("QQuickComboBox")) {
                    auto *popup = item->property("popup").value<QObject *>();
                    popups.append({nameOf(item), [=] { QMetaObject::invokeMethod(popup, "open"); },
                                   [=] { QMetaObject::invokeMethod(popup, "close"); }, popup});
                    note(entriesThatDoNotFit(item, screen));
                }
                auto *tip = const_cast<QObject *>(toolTipOf(item));
                if (tip && !tip->property("text").toString().isEmpty()) {
                    const QString text = tip->property("text").toString();
                    tip->setProperty("delay", 0);
                    popups.append({nameOf(item) + "-tip",
                                   [=] {
                                       QMetaObject::invokeMethod(tip, "show", Q_ARG(QString, text),
                                                                 Q_ARG(int, -1));
                                   },
                                   [=] { QMetaObject::invokeMethod(tip, "hide"); },
                                   tip->property("toolTip").value<QObject *>()});
                }
            }
            for (const Popup &p : popups) {
                QVERIFY2(p.popup, qPrintable(p.name));
                // What is checked is the pop-up once open: its fading and
                // growing in and out are left out.
                for (const char *transition : {"enter", "exit"})
                    QVERIFY(QQmlProperty::write(p.popup, transition,
                                                QVariant::fromValue<QObject *>(nullptr)));
                p.open();
                QTRY_VERIFY2(p.popup->property("opened").toBool(), qPrintable(p.name));
                // A frame drawn with the pop-up open, for the picture.
                QSignalSpy drawn(window, &QQuickWindow::frameSwapped);
                window->update();
                QVERIFY2(drawn.wait(5000), qPrintable(p.name));
                note(ScreenCheck(window, screen + "-" + p.name).problems());
                p.close();
                QTRY_VERIFY2(!p.popup->property("visible").toBool(), qPrintable(p.name));
                opened << p.popup;
            }
        }
        // No dialog of the window was left out.
        for (QObject *o : h.root()->findChildren<QObject *>()) {
            if (o->inherits("QQuickDialog"))
                QVERIFY2(opened.contains(o), qPrintable(o->property("title").toString()));
        }

        // The message boxes (picked out first: items that closed pop-ups
        // leave are deleted once events run).
        QObjectList boxes;
        for (QObject *o : h.root()->findChildren<QObject *>()) {
            if (o->inherits("QQuickPlatformMessageDialog"))
                boxes << o;
        }
        for (QObject *o : boxes) {
            const QString name = qmlContext(o)->nameForObject(o);
            if (o->property("path").isValid()) // one that names a file: the journal
                o->setProperty("path", h.journal.getLogFile());
            if (o->property("version").isValid()) { // the update question, with its notes
                o->setProperty("version", "3.4.0");
                o->setProperty("detailedText", "Version 3.4: a steadier serial link.");
            }
            QMetaObject::invokeMethod(o, "open");
            QTRY_VERIFY(o->property("visible").toBool());
            QTest::qWait(100);
            note(widgetProblems(language + "-" + name));
            QMetaObject::invokeMethod(o, "close");
            QTRY_VERIFY(!o->property("visible").toBool());
        }
        for (const QString &p : problems)
            qWarning().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(QString("%1 problems").arg(problems.size())));
    }

    // With no program for the log, "View log" in the tray menu and "Open" on
    // the application page name the file in a message box.
    void logThatNothingOpensIsNamed_data()
    {
        QTest::addColumn<bool>("fromTray");
        QTest::newRow("tray: View log") << true;
        QTest::newRow("application page: Open") << false;
    }

    void logThatNothingOpensIsNamed()
    {
        QFETCH(bool, fromTray);
        // What xdg-open does on a system without a program for the file.
        QTemporaryDir bin;
        QFile opener(bin.filePath("xdg-open"));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\nexit 3\n");
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":" + path);
        auto restore = qScopeGuard([path] { qputenv("PATH", path); });

        Harness h;
        QVERIFY(h.load());
        auto *window = h.window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QString log = h.journal.getLogFile();
        h.journal.log("a line");
        QTRY_VERIFY(QFile::exists(log));

        if (fromTray) {
            QMetaObject::invokeMethod(h.tray, "triggered", Q_ARG(QString, "L"));
        } else {
            h.eval("tabBar.currentIndex = 2");
            auto *link = qobject_cast<QQuickItem *>(Harness::control(h.page3, "logViewText"));
            QVERIFY(link && link->isVisible());
            const QPointF where(link->width() * 0.7, link->height() / 2);
            QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
                              link->mapToScene(where).toPoint());
        }
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = shownMessageBox()));
        QVERIFY2(box->informativeText().contains(log), qPrintable(box->informativeText()));
        box->close();
    }

private:
    // Whatever address a case stores, nothing is pinged beyond loopback.
    PingStandIn ping;
};

TOVEL3_TEST_MAIN(TestScreens)
#include "tst_textfit.moc"
