#pragma once

class Journal;
class QQmlContext;
class SingleAppHandler;

// The native side's QML surface: the element types and the context
// properties that main.qml and its pages rely on. Usable from tests that load
// the real main.qml without going through the program's entry point.
namespace QmlHost
{
// Registers the eleven native element types (version 1.0). Call once, before
// any QML engine loads a file that imports them.
void registerTypes();

// Sets the eight context properties, in order, on the given context (the
// engine's root context). "software_rendering" and "lang_current" are read
// from the settings store of the current organisation and application.
void publishContext(QQmlContext *context, SingleAppHandler *server, Journal *journal);
} // namespace QmlHost
