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

# RFC 4291's text form, as core/release_trust.cpp reads it: eight groups of
# 1-4 hex digits, one run of them shortened to "::", the last two groups
# optionally an IPv4 address.
function(stonewake_is_ipv6 text out)
  set(${out} FALSE PARENT_SCOPE)
  if(text MATCHES "^(.*:)(([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+))$")
    set(head "${CMAKE_MATCH_1}")
    foreach(octet "${CMAKE_MATCH_3}" "${CMAKE_MATCH_4}" "${CMAKE_MATCH_5}" "${CMAKE_MATCH_6}")
      string(LENGTH "${octet}" digits)
      if(digits GREATER 3 OR octet GREATER 255 OR (digits GREATER 1 AND octet MATCHES "^0"))
        return()
      endif()
    endforeach()
    set(text "${head}0:0")
  endif()
  if(NOT text MATCHES "^[0-9A-Fa-f:]+$")
    return()
  endif()
  string(FIND "${text}" "::" gap)
  string(FIND "${text}" "::" last_gap REVERSE)
  if(NOT gap EQUAL last_gap)
    return()
  endif()
  if(gap EQUAL -1)
    set(parts "${text}")
  else()
    string(SUBSTRING "${text}" 0 ${gap} left)
    math(EXPR right_start "${gap} + 2")
    string(SUBSTRING "${text}" ${right_start} -1 right)
    set(parts "${left}" "${right}")
  endif()
  set(groups 0)
  foreach(part IN LISTS parts)
    if(part STREQUAL "")
      continue()
    endif()
    string(REPLACE ":" ";" part_groups "${part}")
    # An empty group (a ':' at either end, or ":::") is no group at all.
    if(part MATCHES "^:|:$")
      return()
    endif()
    foreach(group IN LISTS part_groups)
      if(NOT group MATCHES "^[0-9A-Fa-f][0-9A-Fa-f]?[0-9A-Fa-f]?[0-9A-Fa-f]?$")
        return()
      endif()
      math(EXPR groups "${groups} + 1")
    endforeach()
  endforeach()
  if((gap EQUAL -1 AND groups EQUAL 8) OR (NOT gap EQUAL -1 AND groups LESS 8))
    set(${out} TRUE PARENT_SCOPE)
  endif()
endfunction()

# stonewake_write_release_trust(<folder> <key> <server>)
# The trust resource's text (core/release_trust.h) in <folder>/release_trust.txt
# and, beside it, the header that tells the resource script where it is.
# file(CONFIGURE) leaves an unchanged file untouched, so nothing rebuilds.
function(stonewake_write_release_trust folder key server)
  file(CONFIGURE OUTPUT ${folder}/release_trust.txt CONTENT "stonewake-release-trust 1\nkey ${key}\nserver ${server}\n")
  file(CONFIGURE OUTPUT ${folder}/release_trust.rc.h
    CONTENT "#define STONEWAKE_RELEASE_TRUST_FILE \"${folder}/release_trust.txt\"\n")
endfunction()

option(STONEWAKE_TRUST_TEST_KEY "Trust the committed test-only key and a loopback release server" OFF)
set(STONEWAKE_RELEASE_BASE_URL "" CACHE STRING "Release server base URL, https://host[:port][/path] or http://host[:port][/path] (required unless the build trusts the test key)")
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
                        "https://host[:port][/path] or http://host[:port][/path], for example "
                        "-DSTONEWAKE_RELEASE_BASE_URL=https://cdn.example.net/stonewake: every player who runs "
                        "this launcher asks that server. Only a build that trusts the test-only key has a "
                        "default (http://127.0.0.1:18080).")
  endif()
endif()

string(LENGTH "${stonewake_key}" stonewake_key_length)
if(NOT stonewake_key MATCHES "^[0-9a-f]+$" OR NOT stonewake_key_length EQUAL 128)
  message(FATAL_ERROR "STONEWAKE_RELEASE_PUBLIC_KEY must be 128 hex digits (X then Y).")
endif()
# The launcher appends "/latest/manifest.txt" and "/objects/<sha256>" to the
# base URL's text without escaping anything, and the text also goes into a
# C++ string and the trust resource as it is: so a host (a name, an IPv4
# address or a bracketed IPv6 one), a port from 1 to 65535, and a path of
# plain segments (RFC 3986 unreserved characters only, no "." or ".."
# segment); no user name, query, fragment, trailing slash, space, '%' or
# anything beyond ASCII.
string(CONCAT stonewake_url_form "STONEWAKE_RELEASE_BASE_URL must be https://host[:port][/path] or http://host[:port][/path] "
                          "(for example https://cdn.example.net/stonewake): a path of letters, digits and - . _ ~ "
                          "between single slashes, without a trailing slash, a query, a fragment, spaces or "
                          "characters that need escaping; it is \"${STONEWAKE_RELEASE_BASE_URL}\".")
if(NOT STONEWAKE_RELEASE_BASE_URL MATCHES
   "^https?://([-A-Za-z0-9._]+|\\[[0-9A-Fa-f:.]+\\])(:([0-9]+))?((/[-A-Za-z0-9._~]+)*)$")
  message(FATAL_ERROR "${stonewake_url_form}")
endif()
set(stonewake_url_host "${CMAKE_MATCH_1}")
set(stonewake_url_port "${CMAKE_MATCH_3}")
set(stonewake_url_path "${CMAKE_MATCH_4}")
if(stonewake_url_path MATCHES "/\\.\\.?(/|$)" OR stonewake_url_port MATCHES "^0")
  message(FATAL_ERROR "${stonewake_url_form}")
endif()
if(stonewake_url_host MATCHES "^\\[(.*)\\]$")
  stonewake_is_ipv6("${CMAKE_MATCH_1}" stonewake_url_ipv6)
  if(NOT stonewake_url_ipv6)
    message(FATAL_ERROR "STONEWAKE_RELEASE_BASE_URL has the host ${stonewake_url_host}: a host in brackets must "
                        "be an IPv6 address (for example [2001:db8::1]), which WinHTTP requires there.")
  endif()
endif()
string(LENGTH "${stonewake_url_host}" stonewake_url_host_length)
if(stonewake_url_host_length GREATER 255)
  message(FATAL_ERROR "STONEWAKE_RELEASE_BASE_URL has a host of ${stonewake_url_host_length} characters: WinHTTP "
                      "takes a host name of at most 255 characters.")
endif()
# WinHTTP sends a URL path of at most 2047 characters, and the longest path
# the launcher asks for is an object's: "/objects/" and 64 hex digits after
# the base's path (core/release_trust.h, kMaxServerBasePathChars).
string(LENGTH "${stonewake_url_path}" stonewake_url_path_length)
if(stonewake_url_path_length GREATER 1974)
  message(FATAL_ERROR "STONEWAKE_RELEASE_BASE_URL has a path of ${stonewake_url_path_length} characters: WinHTTP "
                      "sends a URL path of at most 2047 characters, and the launcher adds \"/objects/\" and 64 hex "
                      "digits to it for every download, so the base URL's path can have at most 1974 characters.")
endif()
if(NOT stonewake_url_port STREQUAL "")
  string(LENGTH "${stonewake_url_port}" stonewake_url_port_digits)
  if(stonewake_url_port_digits GREATER 5 OR stonewake_url_port GREATER 65535)
    message(FATAL_ERROR "${stonewake_url_form}")
  endif()
endif()

string(SUBSTRING "${stonewake_key}" 0 64 stonewake_key_x)
string(SUBSTRING "${stonewake_key}" 64 64 stonewake_key_y)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," STONEWAKE_KEY_X_BYTES "${stonewake_key_x}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," STONEWAKE_KEY_Y_BYTES "${stonewake_key_y}")
configure_file(${CMAKE_SOURCE_DIR}/release/release_config.cpp.in ${CMAKE_BINARY_DIR}/generated/release_config.cpp @ONLY)

# The same two values as the resource text the publisher reads.
set(STONEWAKE_RELEASE_TRUST_FOLDER ${CMAKE_BINARY_DIR}/generated/release_trust)
stonewake_write_release_trust(${STONEWAKE_RELEASE_TRUST_FOLDER} ${stonewake_key} "${STONEWAKE_RELEASE_BASE_URL}")
message(STATUS "Release server: ${STONEWAKE_RELEASE_BASE_URL} (trusts the test key: ${STONEWAKE_TRUST_TEST_KEY})")
