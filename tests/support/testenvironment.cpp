#include "support/testenvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace
{
QTemporaryDir *tree = nullptr;
}

void TestEnvironment::isolate()
{
    if (tree)
        return;
    tree = new QTemporaryDir(QDir::tempPath() + "/tovel3-test-XXXXXX");
    const QString root = tree->path();
    const QStringList dirs = {"home",        "home/.config", "home/.local/share",
                              "home/.cache", "run",          "tmp"};
    for (const QString &d : dirs)
        QDir().mkpath(root + "/" + d);
    QFile::setPermissions(root + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", QFile::encodeName(root + "/home"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + "/home/.config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + "/home/.local/share"));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + "/home/.cache"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + "/run"));
    // Local sockets and temporary files of the test and its child processes
    // stay private too, so parallel test programs never meet in /tmp.
    qputenv("TMPDIR", QFile::encodeName(root + "/tmp"));
    std::atexit([] {
        delete tree;
        tree = nullptr;
    });
}

QString TestEnvironment::home()
{
    return tree ? tree->path() + "/home" : QString();
}
