// A bare Qt Quick Controls 2 window: the QML file named on the command line
// (bench_startup's bare page), started as tovel3 starts its window.
#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QUrl>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QQuickStyle::setStyle(QStringLiteral("Material"));
    QQmlApplicationEngine engine;
    engine.load(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
    return engine.rootObjects().isEmpty() ? 1 : app.exec();
}
