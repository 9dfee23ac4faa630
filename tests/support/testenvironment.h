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

#define TOVEL3_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestEnvironment::isolate();                                                                \
        QApplication app(argc, argv);                                                              \
        app.setOrganizationName("Brennic");                                                        \
        app.setApplicationName("Tovel3");                                                          \
        app.setApplicationVersion(TOVEL3_VERSION);                                                 \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
