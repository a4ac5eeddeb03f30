# Third-party pieces, all from Debian's packages.

# GoogleTest from the sources that Debian's googletest package installs; they
# build for both the host and mingw-w64.
set(NEROVA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${NEROVA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# minizip: Debian's libminizip-dev for the host; for Windows compiled from
# Debian's minizip source package (scripts/fetch-minizip.sh puts it in
# third_party/minizip) over mingw-w64's zlib.
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB REQUIRED)
  set(NEROVA_MINIZIP_SOURCE ${CMAKE_SOURCE_DIR}/third_party/minizip)
  if(NOT EXISTS ${NEROVA_MINIZIP_SOURCE}/unzip.c)
    message(FATAL_ERROR "minizip sources missing: run scripts/fetch-minizip.sh")
  endif()
  add_library(nerova_minizip STATIC
    ${NEROVA_MINIZIP_SOURCE}/unzip.c
    ${NEROVA_MINIZIP_SOURCE}/ioapi.c
    ${NEROVA_MINIZIP_SOURCE}/iowin32.c
    ${NEROVA_MINIZIP_SOURCE}/zip.c)
  target_include_directories(nerova_minizip SYSTEM PUBLIC ${NEROVA_MINIZIP_SOURCE})
  target_compile_definitions(nerova_minizip PUBLIC NOCRYPT=0 PRIVATE _CRT_SECURE_NO_WARNINGS)
  target_compile_options(nerova_minizip PRIVATE -w)
  target_link_libraries(nerova_minizip PUBLIC ZLIB::ZLIB)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(nerova_minizip INTERFACE)
  target_link_libraries(nerova_minizip INTERFACE PkgConfig::MINIZIP)
endif()
add_library(nerova::minizip ALIAS nerova_minizip)
