# Third-party pieces, all from Debian's packages.

# GoogleTest from the sources that Debian's googletest package installs; they
# build for both the host and mingw-w64.
set(NEROVA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${NEROVA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# minizip: compiled for both builds from Debian's minizip source package
# (scripts/fetch-minizip.sh puts it in third_party/minizip, with its zip64
# markers compared as 32-bit values), so that the native tests and the
# fuzzer read archives exactly as the Windows program does. zlib is
# Debian's: mingw-w64's for Windows, the host's for the native build.
set(NEROVA_MINIZIP_SOURCE ${CMAKE_SOURCE_DIR}/third_party/minizip)
if(NOT EXISTS ${NEROVA_MINIZIP_SOURCE}/unzip.c)
  message(FATAL_ERROR "minizip sources missing: run scripts/fetch-minizip.sh")
endif()
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
add_library(nerova_minizip STATIC
  ${NEROVA_MINIZIP_SOURCE}/unzip.c
  ${NEROVA_MINIZIP_SOURCE}/ioapi.c
  ${NEROVA_MINIZIP_SOURCE}/zip.c)
if(WIN32)
  target_sources(nerova_minizip PRIVATE ${NEROVA_MINIZIP_SOURCE}/iowin32.c)
  target_compile_definitions(nerova_minizip PRIVATE _CRT_SECURE_NO_WARNINGS)
endif()
target_include_directories(nerova_minizip SYSTEM PUBLIC ${NEROVA_MINIZIP_SOURCE})
target_compile_definitions(nerova_minizip PUBLIC NOCRYPT=0)
target_compile_options(nerova_minizip PRIVATE -w)
target_link_libraries(nerova_minizip PUBLIC ZLIB::ZLIB)
add_library(nerova::minizip ALIAS nerova_minizip)

# nlohmann/json, header only, from Debian's nlohmann-json3-dev. Its headers
# sit in /usr/include beside the host's C library, which the mingw-w64 build
# must not see: that build reaches them through a directory of its own that
# holds only a link to them.
set(NEROVA_JSON_HEADERS /usr/include/nlohmann CACHE PATH "nlohmann/json's header directory")
if(NOT EXISTS ${NEROVA_JSON_HEADERS}/json.hpp)
  message(FATAL_ERROR "nlohmann/json missing: run scripts/install-deps.sh")
endif()
set(NEROVA_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${NEROVA_JSON_INCLUDE})
file(CREATE_LINK ${NEROVA_JSON_HEADERS} ${NEROVA_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(nerova_json INTERFACE)
target_include_directories(nerova_json SYSTEM INTERFACE ${NEROVA_JSON_INCLUDE})
