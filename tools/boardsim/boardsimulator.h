#pragma once
#include <QObject>
class BoardSimulator : public QObject
{
    Q_OBJECT
public:
    explicit BoardSimulator(QObject *parent = nullptr);
};
