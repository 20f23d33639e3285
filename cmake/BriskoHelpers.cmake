# Shared build habits of the Brisko tree.

# Strict Qt and warnings for every Brisko target.
function(brisko_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_compile_definitions(${target} PRIVATE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_UP_TO=0x060400
    BRISKO_SOURCE_RESOURCES="${PROJECT_SOURCE_DIR}/resources"
    BRISKO_VERSION="${PROJECT_VERSION}")
endfunction()

# brisko_add_library(NAME SOURCES... LIBS ...): a static library of one source folder.
# Sources are every .cpp/.h of the folder (not its subfolders) unless SOURCES is given.
function(brisko_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS
         ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  brisko_strict(${name})
endfunction()

# brisko_add_test(NAME SOURCES... LIBS ...): one QtTest executable registered with CTest.
# Every test runs offscreen, with test-mode standard paths and a home folder of its own,
# so no test reads or writes the developer's preferences or support folders.
function(brisko_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests-bin)
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE
    BRISKO_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    BRISKO_BINARY_DIR="${CMAKE_BINARY_DIR}")
  brisko_strict(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(home ${CMAKE_BINARY_DIR}/test-homes/${name})
  file(MAKE_DIRECTORY ${home})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;HOME=${home};XDG_CONFIG_HOME=${home}/.config;XDG_DATA_HOME=${home}/.local/share;XDG_CACHE_HOME=${home}/.cache;XDG_RUNTIME_DIR=${home}/run;BRISKO_RESOURCES=${PROJECT_SOURCE_DIR}/resources;LC_ALL=C.UTF-8;${ARG_ENV}")
  file(MAKE_DIRECTORY ${home}/run)
endfunction()

# Registers every tst_*.cpp of the calling folder as its own test, linked with LIBS.
function(brisko_add_tests_in_folder)
  cmake_parse_arguments(ARG "" "" "LIBS;ENV" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    brisko_add_test(${name} SOURCES ${src} LIBS ${ARG_LIBS} ENV ${ARG_ENV})
  endforeach()
endfunction()
