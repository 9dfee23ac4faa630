# Fails when a text of the interface has no Russian translation. Runs lupdate
# over the sources into a scratch copy of the catalogue, so the catalogue in the
# source tree is never rewritten by the build.
#   cmake -DLUPDATE=... -DTS=... -DSOURCES="a;b" -DWORKDIR=... -DSTAMP=... -P checktranslations.cmake
file(MAKE_DIRECTORY "${WORKDIR}")
set(scratch "${WORKDIR}/tovel_ru_check.ts")
configure_file("${TS}" "${scratch}" COPYONLY)
execute_process(
  COMMAND "${LUPDATE}" -silent -locations none ${SOURCES} -ts "${scratch}"
  RESULT_VARIABLE result
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lupdate failed on the interface texts: ${errors}")
endif()
file(READ "${scratch}" catalogue)
string(REGEX MATCHALL
  "<source>[^<]*</source>[ \t\r\n]*(<comment>[^<]*</comment>[ \t\r\n]*)?<translation( type=\"unfinished\")?>[ \t\r\n]*</translation>|<source>[^<]*</source>[ \t\r\n]*(<comment>[^<]*</comment>[ \t\r\n]*)?<translation type=\"unfinished\"[^>]*>[^<]*</translation>|<source>[^<]*</source>[ \t\r\n]*(<comment>[^<]*</comment>[ \t\r\n]*)?<translation[^>]*/>"
  missing "${catalogue}")
if(missing)
  set(list "")
  foreach(entry IN LISTS missing)
    string(REGEX REPLACE "^<source>([^<]*)</source>.*" "\\1" text "${entry}")
    string(APPEND list "\n  ${text}")
  endforeach()
  message(FATAL_ERROR "Texts without a Russian translation in ${TS}:${list}\n"
    "Run: lupdate -locations none qml/*.qml tovel3/*.cpp engine/*.cpp engine/*/*.cpp desktop/*/*.cpp -ts qml/lang/tovel_ru.ts, then translate them.")
endif()
file(WRITE "${STAMP}" "checked\n")
