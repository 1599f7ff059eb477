# Test registration shared by every folder.
#
# With STONEWAKE_BUILD_TESTS off (the players' build) no test program, test
# helper, benchmark or fuzz target is built or registered: each folder
# declares its product first, then
#   if(NOT STONEWAKE_BUILD_TESTS)
#     return()
#   endif()
# and its tests after that.
#
# In the windows build each test program runs under Wine through the
# wrapper set as CMAKE_CROSSCOMPILING_EMULATOR; all of them share one Wine
# prefix in the build folder, started once by the wine_prefix fixture and
# stopped when the run ends.

if(STONEWAKE_BUILD_TESTS)
  enable_testing()
  include(GoogleTest)
endif()

# stonewake_wine_prefix(<fixture> <folder> <wrapper> [<program>...])
# A Wine prefix in <folder>/prefix (HOME in <folder>/home) and the wrapper
# script <wrapper> that runs programs in it; the tests <fixture>_start
# (which creates the prefix when needed and starts its lasting wineserver,
# copying each <program> into its system32) and <fixture>_stop set up and
# clean up the CTest fixture <fixture>.
function(stonewake_wine_prefix fixture folder wrapper)
  set(STONEWAKE_WINE_PREFIX ${folder}/prefix)
  set(STONEWAKE_WINE_HOME ${folder}/home)
  configure_file(${CMAKE_SOURCE_DIR}/tools/wine/wine-run.in ${wrapper}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  add_test(NAME ${fixture}_start COMMAND ${wrapper} --start ${ARGN})
  add_test(NAME ${fixture}_stop COMMAND ${wrapper} --stop)
  set_tests_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture})
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture})
endfunction()

if(WIN32 AND STONEWAKE_BUILD_TESTS)
  set(STONEWAKE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix)
  set(STONEWAKE_WINE_HOME ${CMAKE_BINARY_DIR}/wine/home)
  stonewake_wine_prefix(wine_prefix ${CMAKE_BINARY_DIR}/wine ${CMAKE_BINARY_DIR}/wine-run)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

  # Tests that publish real releases run the host build's publisher (the
  # host preset's, unless STONEWAKE_PUBLISHER names another). The
  # host_publisher fixture builds it once before them: tests building it
  # themselves would run `cmake --build` on one tree at once under ctest -j.
  set(STONEWAKE_PUBLISHER ${CMAKE_SOURCE_DIR}/build/host/bin/publisher CACHE FILEPATH
      "The host build's publisher, for tests that publish real releases")
  add_test(NAME host_publisher
    COMMAND bash -c "source \"$0\" && host_publisher \"$1\"" ${CMAKE_SOURCE_DIR}/tools/common.sh
            ${STONEWAKE_PUBLISHER})
  set_tests_properties(host_publisher PROPERTIES FIXTURES_SETUP host_publisher TIMEOUT 900)
endif()

# stonewake_test_code(<target>)
# Test code builds without a warning, and a new warning stops the build: a
# warning there has meant a test that checked another path than it said (an
# unknown escape that dropped a separator). Only with GCC, the compiler of
# both test builds; the players' and the studio's builds never fail on a
# warning a newer compiler brings.
function(stonewake_test_code target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# stonewake_add_test(<name> SOURCES <files...> [LIBS <libs...>] [ARGS <args...>]
#                    [FILTER <gtest filter>] [PROPERTIES <test properties...>])
# Builds a GoogleTest program and registers each of its test cases as a
# test of its own, "<name>.<Suite>.<Case>", found when CTest runs (listing
# the cases runs the program, under Wine in the windows build, so it waits
# for the test run rather than slowing every build). FILTER keeps the cases
# another registration runs its own way out. Test code sees the folders of
# the libraries it links.
function(stonewake_add_test name)
  cmake_parse_arguments(T "" "FILTER" "SOURCES;LIBS;ARGS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest)
  stonewake_test_code(${name})
  set(properties ${T_PROPERTIES})
  if(WIN32 AND NOT "FIXTURES_REQUIRED" IN_LIST properties)
    list(APPEND properties FIXTURES_REQUIRED wine_prefix)
  endif()
  set(options TEST_PREFIX "${name}." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
  if(T_ARGS)
    list(APPEND options EXTRA_ARGS ${T_ARGS})
  endif()
  if(T_FILTER)
    list(APPEND options TEST_FILTER ${T_FILTER})
  endif()
  if(properties)
    list(APPEND options PROPERTIES ${properties})
  endif()
  gtest_discover_tests(${name} ${options})
endfunction()

# stonewake_add_python_test(<name> <script> [ARGS...])
# A test in Python: it imports the test package (test_support/) from the
# source folder; a Windows build's test reads that build's settings
# (test_settings.json) from the build folder given with --build.
function(stonewake_add_python_test name script)
  add_test(NAME ${name} COMMAND python3 ${script} ${ARGN})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "PYTHONPATH=${CMAKE_SOURCE_DIR}")
endfunction()

# Marks an already registered test as needing the Wine prefix.
function(stonewake_needs_wine test_name)
  if(WIN32)
    set_property(TEST ${test_name} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()

# Marks an already registered test as running the host publisher
# (STONEWAKE_PUBLISHER), built first by the host_publisher fixture.
function(stonewake_needs_publisher test_name)
  set_property(TEST ${test_name} APPEND PROPERTY FIXTURES_REQUIRED host_publisher)
endfunction()
