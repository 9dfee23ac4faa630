# Completes an installed tree of the Windows program (cmake -P, at install
# time) with everything it loads that is not Windows' own:
# - the QML modules its QML imports, as qmlimportscanner finds them, with
#   the modules those import;
# - the Qt plug-ins named in PLUGINS (type/file pairs);
# - every DLL that an installed executable, plug-in or QML module imports,
#   followed through the DLLs it brings: the Qt's from its bin/, the
#   compiler's runtime from where the compiler finds it. What neither has is
#   Windows' own and stays out;
# - qt.conf, which points Qt at this folder, and Qt's catalogues named in
#   TRANSLATIONS.
#
# The DLLs it copies are stripped of their debugging information.
#
# Variables: DESTDIR, QT, QML_SOURCES, PLUGINS, TRANSLATIONS, OBJDUMP, STRIP, CXX.
cmake_minimum_required(VERSION 3.16)
foreach(var DESTDIR QT QML_SOURCES OBJDUMP STRIP CXX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "deploy.cmake: ${var} is not set")
  endif()
endforeach()

# QML modules: every directory of the Qt's qml/ that the scanner names.
execute_process(
  COMMAND ${QT}/bin/qmlimportscanner -rootPath ${QML_SOURCES} -importPath ${QT}/qml
  OUTPUT_VARIABLE imports RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "qmlimportscanner failed on ${QML_SOURCES}")
endif()
string(JSON count LENGTH "${imports}")
math(EXPR last "${count} - 1")
set(modules)
foreach(i RANGE ${last})
  string(JSON type GET "${imports}" ${i} type)
  string(JSON path ERROR_VARIABLE no_path GET "${imports}" ${i} path)
  if(type STREQUAL "module" AND NOT no_path)
    file(RELATIVE_PATH relative ${QT}/qml ${path})
    list(APPEND modules ${relative})
  endif()
endforeach()
list(REMOVE_DUPLICATES modules)
list(SORT modules)
foreach(module ${modules})
  get_filename_component(parent qml/${module} DIRECTORY)
  # Design-time files only serve Qt Creator.
  file(COPY ${QT}/qml/${module} DESTINATION ${DESTDIR}/${parent}
    PATTERN "*.qmltypes" EXCLUDE PATTERN "designer" EXCLUDE)
endforeach()
list(LENGTH modules module_count)

foreach(plugin ${PLUGINS})
  get_filename_component(type ${plugin} DIRECTORY)
  file(COPY ${QT}/plugins/${plugin} DESTINATION ${DESTDIR}/${type})
endforeach()

foreach(catalogue ${TRANSLATIONS})
  file(COPY ${catalogue} DESTINATION ${DESTDIR}/translations)
endforeach()
file(WRITE ${DESTDIR}/qt.conf "[Paths]\nPrefix=.\nPlugins=.\nQml2Imports=qml\n")

# DLL imports, breadth first from every installed module.
file(GLOB_RECURSE queue ${DESTDIR}/*.exe ${DESTDIR}/*.dll)
set(present)
foreach(file ${queue})
  get_filename_component(name ${file} NAME)
  string(TOLOWER ${name} name)
  list(APPEND present ${name})
endforeach()
set(copied)
set(system)
while(queue)
  list(POP_FRONT queue file)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${file}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
  foreach(entry ${names})
    string(REGEX REPLACE "DLL Name: *" "" dll "${entry}")
    string(STRIP "${dll}" dll)
    string(TOLOWER ${dll} key)
    if(key IN_LIST present OR key IN_LIST system)
      continue()
    endif()
    set(found)
    if(EXISTS ${QT}/bin/${dll})
      set(found ${QT}/bin/${dll})
    else()
      execute_process(COMMAND ${CXX} -print-file-name=${dll} OUTPUT_VARIABLE path
        OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
        get_filename_component(found ${path} REALPATH)
      endif()
    endif()
    if(found)
      file(COPY ${found} DESTINATION ${DESTDIR})
      execute_process(COMMAND ${STRIP} --strip-unneeded ${DESTDIR}/${dll})
      list(APPEND present ${key})
      list(APPEND copied ${dll})
      list(APPEND queue ${DESTDIR}/${dll})
    else()
      list(APPEND system ${key})
    endif()
  endforeach()
endwhile()
list(SORT copied)
list(SORT system)
list(LENGTH copied copied_count)
message(STATUS "Deployed ${module_count} QML modules and ${copied_count} DLLs: ${copied}")
message(STATUS "Left to Windows: ${system}")
