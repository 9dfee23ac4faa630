#pragma once

#include <QString>

// Points HOME and the XDG directories at a fresh temporary tree before any
// Qt object reads them, so no test sees or touches the user's settings,
// autostart entries or journal. Child processes inherit the same tree.
namespace TestEnvironment
{
void isolate();
QString home();
} // namespace TestEnvironment

// The application of a test program: a QCoreApplication for the engine's
// classes, a QApplication where the test is built with TOVEL3_TEST_GUI.
#ifdef TOVEL3_TEST_GUI
#define TOVEL3_TEST_APPLICATION QApplication
#else
#define TOVEL3_TEST_APPLICATION QCoreApplication
#endif

#define TOVEL3_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestEnvironment::isolate();                                                                \
        TOVEL3_TEST_APPLICATION app(argc, argv);                                                   \
        app.setOrganizationName("Brennic");                                                        \
        app.setApplicationName("Tovel3");                                                          \
        app.setApplicationVersion(TOVEL3_VERSION);                                                 \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
