#pragma once

class Journal;
class QObject;
class QQmlEngine;
class SingleAppHandler;

// The native side's QML surface: the module "Tovel3" 1.0 that main.qml and its
// pages import, with the element types, the enumerations and the singletons
// App, Settings, Board and HeartbeatState. Usable from tests that load the
// real main.qml without going through the program's entry point.
namespace QmlHost
{
// Registers the module. Call once, before any QML engine loads a file that
// imports it.
void registerTypes();

// Gives an engine the object behind one of the module's singletons ("App",
// "Settings", "Board" or "HeartbeatState"); call before the engine loads
// anything that reads it. The object stays its owner's and must outlive the
// engine's use of it.
void publish(QQmlEngine *engine, const char *singleton, QObject *object);

// Publishes App: the version, the build day, the single-instance server and
// the journal, and the rendering and the language as stored now in the
// settings store of the current organisation and application. The engine
// owns what it builds for that.
void publishApp(QQmlEngine *engine, SingleAppHandler *server, Journal *journal);
} // namespace QmlHost
