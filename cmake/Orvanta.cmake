# orvanta_library(<name> DIRS <dir>... [EXCLUDE <file>...] LIBS <lib>...)
# A static library of every .cpp/.h under the given folders. A library whose folders hold no
# source yet is an interface library, so later layers can link it before it has code.
function(orvanta_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;EXCLUDE;LIBS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
      ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.h)
    list(APPEND sources ${found})
  endforeach()
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  set(cpp ${sources})
  list(FILTER cpp INCLUDE REGEX "\\.cpp$")
  if(cpp)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    target_precompile_headers(${name} PRIVATE ${ORVANTA_PCH_HEADERS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_LIBS})
  endif()
endfunction()

# Headers nearly every translation unit parses. Precompiling them halves the build, which matters
# because CI builds everything twice, possibly on two cores.
set(ORVANTA_PCH_HEADERS
  <QByteArray> <QDir> <QFile> <QHash> <QList> <QObject> <QString> <QStringList> <QVariant>
  <qcoro/qcorotask.h>
  <algorithm> <chrono> <coroutine> <functional> <memory> <mutex> <optional> <stop_token>
  <string> <thread> <vector>)

# One precompiled header shared by every test program; they all compile with the same flags.
function(orvanta_test_pch)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/test_pch.cpp "// precompiled header host\n")
  add_library(orvanta_test_pch OBJECT ${CMAKE_CURRENT_BINARY_DIR}/test_pch.cpp)
  target_link_libraries(orvanta_test_pch PRIVATE ${ARGN} Qt6::Test Qt6::Widgets)
  target_precompile_headers(orvanta_test_pch PRIVATE ${ORVANTA_PCH_HEADERS} <QtTest>)
endfunction()

# orvanta_tests(<dir> LIBS <lib>... [DESKTOPS <setting>...] [WINDOW_MANAGERS <manager>...])
# One QtTest executable per tst_*.cpp in <dir>, registered with ctest under <dir>/<name>.
# With DESKTOPS, for what differs between desktop settings: Qt takes a desktop's platform theme
# only on X11, so each program runs on a virtual X display of its own (Xvfb, a test dependency)
# once per setting (XDG_CURRENT_DESKTOP), registered as <dir>/<name>:<setting>. With
# WINDOW_MANAGERS, for what a window manager decides (stacking, the keyboard's window): once per
# manager on a virtual display it runs on, registered as <dir>/<name>:<manager>.
function(orvanta_tests dir)
  cmake_parse_arguments(ARG "" "" "LIBS;DESKTOPS;WINDOW_MANAGERS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/tst_*.cpp)
  foreach(src IN LISTS tests)
    get_filename_component(base ${src} NAME_WE)
    set(target ${dir}_${base})
    add_executable(${target} ${src})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${base}
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${dir})
    # Every test links Widgets so that all of them share one set of compile definitions, and
    # with it the precompiled header.
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} Qt6::Test Qt6::Widgets)
    target_precompile_headers(${target} REUSE_FROM orvanta_test_pch)
    if(NOT ARG_DESKTOPS AND NOT ARG_WINDOW_MANAGERS)
      add_test(NAME ${dir}/${base} COMMAND ${target})
      set_tests_properties(${dir}/${base} PROPERTIES TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=*.debug=false")
    endif()
    set(settings)
    foreach(desktop IN LISTS ARG_DESKTOPS)
      list(APPEND settings "${desktop}|${desktop}|")
    endforeach()
    foreach(manager IN LISTS ARG_WINDOW_MANAGERS)
      list(APPEND settings "${manager}||${manager}")
    endforeach()
    foreach(setting IN LISTS settings)
      string(REPLACE "|" ";" parts "${setting}")
      list(GET parts 0 suffix)
      list(GET parts 1 desktop)
      list(GET parts 2 manager)
      set(display_options)
      if(manager)
        set(display_options --window-manager ${manager})
      endif()
      set(name ${dir}/${base}:${suffix})
      add_test(NAME ${name} COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/on-virtual-display
        ${display_options} $<TARGET_FILE:${target}>)
      # Only the setting named here chooses the theme; the caller's own choices are dropped. The
      # keyboard library of X11 hands strndup a reply's name that fills its buffer with no NUL after
      # it, which strndup allows and AddressSanitizer's strict string checks do not: off for these.
      set_tests_properties(${name} PROPERTIES TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=xcb;XDG_CURRENT_DESKTOP=${desktop};QT_LOGGING_RULES=*.debug=false"
        ENVIRONMENT_MODIFICATION
          "QT_QPA_PLATFORMTHEME=unset:;QT_STYLE_OVERRIDE=unset:;QT_SCALE_FACTOR=unset:;DESKTOP_SESSION=unset:;KDE_FULL_SESSION=unset:;KDE_SESSION_VERSION=unset:;GNOME_DESKTOP_SESSION_ID=unset:;ASAN_OPTIONS=string_append::strict_string_checks=0")
    endforeach()
  endforeach()
endfunction()
