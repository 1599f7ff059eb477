# Build-time trust: the release server's base URL and the release public key.
#
# A build with STONEWAKE_TRUST_TEST_KEY=ON (the `windows` preset, whose tests
# sign with it) trusts the committed test-only key and, unless told otherwise,
# a loopback server. Any other build must be given the studio's public key (printed by `publisher
# keygen`) and refuses the test key, so no shipped launcher trusts a key
# whose private half is in the repository. Every build that does not trust
# the test key must also name its release server: there is no default host
# for a player's launcher to ask.
#
# Both are also written into a small resource of the executable
# (core/release_trust.h), which the publisher reads back from a launcher
# before shipping it.

option(STONEWAKE_TRUST_TEST_KEY "Trust the committed test-only key and a loopback release server" OFF)
set(STONEWAKE_RELEASE_BASE_URL "" CACHE STRING "Release server base URL, http://host[:port] (required unless the build trusts the test key)")
set(STONEWAKE_RELEASE_PUBLIC_KEY "" CACHE STRING "Release public key: X then Y as 128 hex digits")

set(stonewake_test_key "${STONEWAKE_TEST_PUBLIC_KEY}")

set(stonewake_key "${STONEWAKE_RELEASE_PUBLIC_KEY}")
string(TOLOWER "${stonewake_key}" stonewake_key)
if(STONEWAKE_TRUST_TEST_KEY)
  if(stonewake_key STREQUAL "")
    set(stonewake_key "${stonewake_test_key}")
  endif()
else()
  if(STONEWAKE_BUILD_TESTS)
    message(FATAL_ERROR "The test programs sign with the test-only key, so they need a build that trusts it "
                        "(STONEWAKE_TRUST_TEST_KEY=ON); a build for players sets STONEWAKE_BUILD_TESTS=OFF.")
  endif()
  if(stonewake_key STREQUAL "")
    message(FATAL_ERROR "Set STONEWAKE_RELEASE_PUBLIC_KEY to the release public key "
                        "(the 128 hex digits that `publisher keygen` prints), or configure a test build "
                        "(STONEWAKE_TRUST_TEST_KEY=ON).")
  endif()
  if(stonewake_key STREQUAL stonewake_test_key)
    message(FATAL_ERROR "The test-only release key may only be trusted by a test build "
                        "(STONEWAKE_TRUST_TEST_KEY=ON).")
  endif()
endif()
if(STONEWAKE_RELEASE_BASE_URL STREQUAL "")
  if(stonewake_key STREQUAL stonewake_test_key)
    set(STONEWAKE_RELEASE_BASE_URL "http://127.0.0.1:18080")
  else()
    message(FATAL_ERROR "Set STONEWAKE_RELEASE_BASE_URL to the release server this launcher asks, "
                        "http://host[:port], for example "
                        "-DSTONEWAKE_RELEASE_BASE_URL=http://releases.example.net:8080: every player who runs "
                        "this launcher asks that server. Only a build that trusts the test-only key has a "
                        "default (http://127.0.0.1:18080).")
  endif()
endif()

string(LENGTH "${stonewake_key}" stonewake_key_length)
if(NOT stonewake_key MATCHES "^[0-9a-f]+$" OR NOT stonewake_key_length EQUAL 128)
  message(FATAL_ERROR "STONEWAKE_RELEASE_PUBLIC_KEY must be 128 hex digits (X then Y).")
endif()
if(NOT STONEWAKE_RELEASE_BASE_URL MATCHES "^http://[-A-Za-z0-9._~:]+$")
  message(FATAL_ERROR "STONEWAKE_RELEASE_BASE_URL must be http://host[:port] without a path.")
endif()

string(SUBSTRING "${stonewake_key}" 0 64 stonewake_key_x)
string(SUBSTRING "${stonewake_key}" 64 64 stonewake_key_y)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," STONEWAKE_KEY_X_BYTES "${stonewake_key_x}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," STONEWAKE_KEY_Y_BYTES "${stonewake_key_y}")
configure_file(${CMAKE_SOURCE_DIR}/release/release_config.cpp.in ${CMAKE_BINARY_DIR}/generated/release_config.cpp @ONLY)

# The same two values as the resource text the publisher reads
# (core/release_trust.h), and the header that tells the resource script
# where that text is. file(CONFIGURE) leaves an unchanged file untouched.
set(STONEWAKE_RELEASE_TRUST_FOLDER ${CMAKE_BINARY_DIR}/generated/release_trust)
file(CONFIGURE OUTPUT ${STONEWAKE_RELEASE_TRUST_FOLDER}/release_trust.txt
  CONTENT "stonewake-release-trust 1\nkey ${stonewake_key}\nserver ${STONEWAKE_RELEASE_BASE_URL}\n")
file(CONFIGURE OUTPUT ${STONEWAKE_RELEASE_TRUST_FOLDER}/release_trust.rc.h
  CONTENT "#define STONEWAKE_RELEASE_TRUST_FILE \"${STONEWAKE_RELEASE_TRUST_FOLDER}/release_trust.txt\"\n")
message(STATUS "Release server: ${STONEWAKE_RELEASE_BASE_URL} (trusts the test key: ${STONEWAKE_TRUST_TEST_KEY})")
