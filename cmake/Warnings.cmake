# Warnings for tolvo's own targets; errors when TOLVO_WERROR is on (the test
# script turns it on, so developers see warnings as failures).
add_library(tolvo_warnings INTERFACE)
target_compile_options(tolvo_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused
  -Woverloaded-virtual -Wimplicit-fallthrough
  $<$<BOOL:${TOLVO_WERROR}>:-Werror>)
