# Warnings for tolvo's own targets; errors when TOLVO_WERROR is on (by
# default in a git checkout, so developers see warnings as failures).
add_library(tolvo_warnings INTERFACE)
target_compile_options(tolvo_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused
  -Woverloaded-virtual -Wimplicit-fallthrough
  $<$<BOOL:${TOLVO_WERROR}>:-Werror>)
# GCC 12 at -O3 reports -Wrestrict inside libstdc++'s own string code for
# plain `"x" + std::string` and for assigning a one-character literal (GCC
# bugs 105329 and 105651); release builds would not build with -Werror.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(tolvo_warnings INTERFACE -Wno-restrict)
endif()
