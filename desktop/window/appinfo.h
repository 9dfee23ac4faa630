#pragma once

#include "integration/singleapphandler.h"
#include "storage/journal.h"

#include <QObject>
#include <QString>

// What the pages know of the running program (the QML singleton App): its
// version and build day, the rendering and the language it started with, the
// single-instance server and the journal.
class AppInfo : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString buildDate READ buildDate CONSTANT)
    // As stored when the program started: a change takes effect on the next
    // start, so the pages compare the switches with these.
    Q_PROPERTY(bool softwareRendering READ softwareRendering CONSTANT)
    Q_PROPERTY(QString language READ language CONSTANT)
    Q_PROPERTY(SingleAppHandler *server READ server CONSTANT)
    Q_PROPERTY(Journal *journal READ journal CONSTANT)
public:
    // Reads the rendering and the language from the settings store of the
    // current organisation and application.
    AppInfo(SingleAppHandler *server, Journal *journal, QObject *parent = nullptr);

    QString version() const;
    QString buildDate() const;
    bool softwareRendering() const { return m_softwareRendering; }
    QString language() const { return m_language; }
    SingleAppHandler *server() const { return m_server; }
    Journal *journal() const { return m_journal; }

private:
    SingleAppHandler *m_server;
    Journal *m_journal;
    bool m_softwareRendering;
    QString m_language;
};
