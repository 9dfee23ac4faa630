// A Russian user meets no English in a dialog. The window's dialogs get their
// buttons (Cancel, OK) from Qt, the file dialog of export and import and the
// message dialogs (Yes, No, OK) are Qt's widget dialogs: all of it comes from
// Qt's catalogue, which start-up loads with the program's. Every dialog the
// window declares is opened the way the window opens it, and every button
// (text and tool tip; and every label of the file dialog, which holds no text
// of ours) is read.

#include "service/loadtranslations.h"
#include "support/testenvironment.h"
#include "support/windowharness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QQuickItem>
#include <QRegularExpression>
#include <QTranslator>
#include <QtTest>

using namespace WindowTest;

namespace
{
// Latin words in a text, mnemonics removed; "OK" is what Russian uses too.
QStringList englishWords(QString text)
{
    text.remove(QLatin1Char('&'));
    QStringList words;
    QRegularExpressionMatchIterator it = QRegularExpression("[A-Za-z]{2,}").globalMatch(text);
    while (it.hasNext()) {
        const QString word = it.next().captured();
        if (word != QLatin1String("OK"))
            words << word;
    }
    return words;
}

void quickButtonTexts(QQuickItem *item, QStringList &out)
{
    if (!item || !item->isVisible())
        return;
    if (item->inherits("QQuickAbstractButton"))
        out << item->property("text").toString();
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children)
        quickButtonTexts(child, out);
}

QString nameOf(QObject *dialog)
{
    for (const char *property : {"objectName", "title", "text"}) {
        const QString name = dialog->property(property).toString();
        if (!name.isEmpty())
            return name;
    }
    return QString::fromLatin1(dialog->metaObject()->className());
}

QWidget *shownWidgetDialog()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets) {
        if (w->isVisible() && w->inherits("QDialog"))
            return w;
    }
    return nullptr;
}

QStringList widgetTexts(QWidget *dialog)
{
    QStringList out;
    const QList<QAbstractButton *> buttons = dialog->findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        if (b->isVisible())
            out << b->text() << b->toolTip();
    }
    if (qobject_cast<QFileDialog *>(dialog)) {
        const QList<QLabel *> labels = dialog->findChildren<QLabel *>();
        for (QLabel *l : labels) {
            if (l->isVisible())
                out << l->text();
        }
    }
    return out;
}
} // namespace

class TestRussianDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        installMessageHandler();
        QSettings().setValue("UI/Language", "ru");
        m_translator = loadTranslations(qApp, nullptr, "lang");
    }
    void cleanupTestCase() { delete m_translator; }
    void init() { messages().qmlProblems.clear(); }
    void cleanup() { verifyNoQmlProblems(); }

    void everyDialogReadsRussian()
    {
        Harness h;
        QVERIFY(h.load());
        QStringList dialogs;
        const QList<QObject *> objects = h.root()->findChildren<QObject *>();
        for (QObject *dialog : objects) {
            const bool quick = dialog->inherits("QQuickDialog");
            if (!quick && !dialog->inherits("QQuickPlatformDialog"))
                continue;
            // A file dialog once for opening and once for saving.
            const QList<int> modes = dialog->inherits("QQuickPlatformFileDialog")
                                         ? QList<int>{0 /* OpenFile */, 2 /* SaveFile */}
                                         : QList<int>{-1};
            for (int mode : modes) {
                if (mode >= 0)
                    dialog->setProperty("fileMode", mode);
                const QString name = nameOf(dialog);
                QVERIFY2(QMetaObject::invokeMethod(dialog, "open"), qPrintable(name));
                QStringList texts;
                if (quick) {
                    QTRY_VERIFY2(dialog->property("opened").toBool(), qPrintable(name));
                    quickButtonTexts(dialog->property("footer").value<QQuickItem *>(), texts);
                } else {
                    QTRY_VERIFY2(shownWidgetDialog(), qPrintable(name));
                    texts = widgetTexts(shownWidgetDialog());
                }
                QVERIFY2(!texts.isEmpty(), qPrintable(name + ": no button"));
                for (const QString &text : qAsConst(texts))
                    QVERIFY2(englishWords(text).isEmpty(),
                             qPrintable(QString("%1: \"%2\"").arg(name, text)));
                dialogs << name + ": " + texts.join(" | ");
                QVERIFY(QMetaObject::invokeMethod(dialog, "close"));
                QTRY_VERIFY2(!dialog->property("visible").toBool() && !shownWidgetDialog(),
                             qPrintable(name));
            }
        }
        qInfo().noquote() << dialogs.join('\n');
        // The window's two dialogs, the file dialog twice, three message dialogs.
        QVERIFY2(dialogs.size() >= 7, qPrintable(dialogs.join('\n')));
    }

private:
    QTranslator *m_translator = nullptr;
};

TOVEL3_TEST_MAIN(TestRussianDialogs)
#include "tst_russiandialogs.moc"
