# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, as
# the Qt for mingw is built with). TOVEL3_QT_MINGW names that Qt's directory.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOVEL3_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVEL3_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVEL3_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVEL3_MINGW_TRIPLE}-windres)

set(TOVEL3_QT_MINGW "" CACHE PATH "Qt 5.15 built for x86_64-w64-mingw32")
# Try-compiles run in a fresh project that must see the Qt too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOVEL3_QT_MINGW)
set(CMAKE_FIND_ROOT_PATH /usr/${TOVEL3_MINGW_TRIPLE} ${TOVEL3_QT_MINGW})
set(CMAKE_PREFIX_PATH ${TOVEL3_QT_MINGW})
# The Qt's moc, rcc and qmlcachegen are Linux programs; libraries, headers and
# package configurations only from the target's trees.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# OpenSSL's headers and import libraries come with that Qt.
set(OPENSSL_ROOT_DIR ${TOVEL3_QT_MINGW})
# That Qt has no Linguist tools: the catalogues are made by Debian's
# (qttools5-dev), which run here.
set(Qt5LinguistTools_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools)
