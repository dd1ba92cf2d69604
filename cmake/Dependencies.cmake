# The system's libraries, all from Debian, found through pkg-config.
# Each becomes an imported target PkgConfig::NAME that folders link by name.
find_package(PkgConfig REQUIRED)
pkg_check_modules(OPENSSL   REQUIRED IMPORTED_TARGET openssl)
pkg_check_modules(LIBEVENT  REQUIRED IMPORTED_TARGET libevent libevent_pthreads)
pkg_check_modules(OPENCV    REQUIRED IMPORTED_TARGET opencv4)
pkg_check_modules(FREETYPE  REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(FRIBIDI   REQUIRED IMPORTED_TARGET fribidi)
pkg_check_modules(PCSC      REQUIRED IMPORTED_TARGET libpcsclite)

# Debian's libzint ships no pkg-config file.
find_path(ZINT_INCLUDE_DIR zint.h REQUIRED)
find_library(ZINT_LIBRARY zint REQUIRED)
if(NOT TARGET Zint::zint)
  add_library(Zint::zint UNKNOWN IMPORTED)
  set_target_properties(Zint::zint PROPERTIES
    IMPORTED_LOCATION ${ZINT_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${ZINT_INCLUDE_DIR})
endif()
