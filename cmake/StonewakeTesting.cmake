# Test registration shared by every folder.
#
# With STONEWAKE_BUILD_TESTS off (the players' build) no test program, test
# helper, benchmark or fuzz target is built or registered: folders put their
# test targets inside `if(STONEWAKE_BUILD_TESTS)`.
#
# In the windows build each test program runs under Wine through the
# wrapper set as CMAKE_CROSSCOMPILING_EMULATOR; all of them share one Wine
# prefix in the build folder, started once by the wine_prefix fixture and
# stopped when the run ends.

if(STONEWAKE_BUILD_TESTS)
  enable_testing()
endif()

if(WIN32 AND STONEWAKE_BUILD_TESTS)
  set(STONEWAKE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix)
  set(STONEWAKE_WINE_HOME ${CMAKE_BINARY_DIR}/wine/home)
  configure_file(${CMAKE_SOURCE_DIR}/tools/wine/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

  add_test(NAME wine_prefix_start COMMAND ${CMAKE_BINARY_DIR}/wine-run --start)
  add_test(NAME wine_prefix_stop COMMAND ${CMAKE_BINARY_DIR}/wine-run --stop)
  set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine_prefix)
  set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix)
endif()

# stonewake_add_test(<name> SOURCES <files...> [LIBS <libs...>] [ARGS <args...>])
# Builds a GoogleTest program and registers it as one test. Test code sees
# the folders of the libraries it links. With tests off the program is only
# declared (never built, never registered), so a folder that names it in
# add_dependencies still configures.
function(stonewake_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ARGS" ${ARGN})
  if(NOT STONEWAKE_BUILD_TESTS)
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest)
  add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()

# Marks an already registered test as needing the Wine prefix.
function(stonewake_needs_wine test_name)
  if(WIN32)
    set_tests_properties(${test_name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()
