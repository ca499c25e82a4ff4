# Build settings of what a user gets. Included by the top CMakeLists.txt.

# The version, one place for all: the window caption, the package names and
# the Linux program's --version. #include "rivak_version.h" and link the
# interface target rivak_version.
configure_file(${CMAKE_CURRENT_LIST_DIR}/rivak_version.h.in ${CMAKE_BINARY_DIR}/generated/rivak_version.h @ONLY)
add_library(rivak_version INTERFACE)
target_include_directories(rivak_version INTERFACE ${CMAKE_BINARY_DIR}/generated)

# No build paths in the programs (__FILE__, debug information): two builds of
# a commit in two folders give the same bytes. The last matching map wins,
# so the build folder is named after the source folder it may lie in.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/)

# Optimized as -O2 (CMake's default for Release is -O3).
string(REPLACE "-O3" "-O2" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")

# rivak for Linux is run as root over files anyone may have written: its
# binary is hardened as distributions harden theirs (checked by
# tests/posix/hardening_check.sh). _FORTIFY_SOURCE needs optimization, so the
# quick test trees (no build type) do without it.
if(NOT WIN32 AND NOT RIVAK_FUZZ)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
  add_compile_options(-fstack-protector-strong
    $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE$<SEMICOLON>-D_FORTIFY_SOURCE=2>)
  add_link_options(-Wl,-z,relro,-z,now)
endif()
