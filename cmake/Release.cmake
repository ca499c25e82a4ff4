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
