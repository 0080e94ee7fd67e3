# vs_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [DISPLAY]
#             [ENV <VAR=value...>] [LABEL <label>] [TEST_FILTER <gtest filter>]
#             [TIMEOUT <seconds, 300 unless given>])
#
# Builds one GoogleTest executable and registers its cases with CTest. Every test
# runs with the environment the real runtimes need:
#   - a writable PoCL kernel cache inside the build tree;
#   - sanitizer options that keep leak checks off (the GL and CL drivers leak by design);
#   - VS_DATA_DIR, the program's data directory;
#   - SDL's dummy audio driver, so no test ever plays sound.
# Tests marked DISPLAY need an X server; ./test starts Xvfb and exports DISPLAY.
# ENV adds variables to that environment (OCL_ICD_VENDORS to choose the OpenCL
# implementations a suite sees); LABEL replaces the executable's name as the CTest label
# and prefixes the cases' names; TEST_FILTER registers only the cases that match.
include(GoogleTest)
find_package(GTest REQUIRED)

function(vs_add_test)
  cmake_parse_arguments(T "DISPLAY" "NAME;LABEL;TEST_FILTER;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # A suite registered under a label of its own may share its cases' names with another
  # suite's: the label prefixes them (rusticl.ShadowPassTest.*).
  set(prefix "")
  if(T_LABEL)
    set(prefix "${T_LABEL}.")
  else()
    set(T_LABEL ${T_NAME})
  endif()
  if(NOT T_TEST_FILTER)
    set(T_TEST_FILTER "*")
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${T_NAME} PRIVATE VS_DATA_DIR="${VS_DATA_DIR}")
  set(env
    "POCL_CACHE_DIR=${CMAKE_BINARY_DIR}/pocl-cache"
    "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "SDL_AUDIODRIVER=dummy"
    "QT_QPA_PLATFORM=xcb"
    ${T_ENV})
  # The environment travels as the tests' launcher: gtest_discover_tests loses list
  # values of test properties, but runs every test through the target's emulator.
  set_target_properties(${T_NAME} PROPERTIES CROSSCOMPILING_EMULATOR "/usr/bin/env;${env}")
  # One label per executable (ctest -L scene_gl_tests); DISPLAY only documents that the
  # suite needs the X server ./test provides.
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY "${VS_DATA_DIR}"
    TEST_PREFIX "${prefix}"
    TEST_FILTER "${T_TEST_FILTER}"
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
endfunction()

find_package(Threads REQUIRED)
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/pocl-cache")
