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

# orvanta_tests(<dir> LIBS <lib>...)
# One QtTest executable per tst_*.cpp in <dir>, registered with ctest under <dir>/<name>.
function(orvanta_tests dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
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
    add_test(NAME ${dir}/${base} COMMAND ${target})
    set_tests_properties(${dir}/${base} PROPERTIES TIMEOUT 300
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=*.debug=false")
  endforeach()
endfunction()
