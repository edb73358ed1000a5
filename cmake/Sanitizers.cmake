# TOLVO_SANITIZE="address,undefined" or "thread" builds everything with those
# sanitizers; reports abort the run so tests cannot pass over them.
# TOLVO_FUZZ instruments everything for libFuzzer's coverage feedback, with
# ASan and UBSan on; the fuzz targets add libFuzzer's main themselves.
add_library(tolvo_sanitizers INTERFACE)
if(TOLVO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TOLVO_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  if(TOLVO_SANITIZE)
    message(FATAL_ERROR "TOLVO_FUZZ brings its own sanitizers; leave TOLVO_SANITIZE empty")
  endif()
  target_compile_options(tolvo_sanitizers INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(tolvo_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(TOLVO_SANITIZE)
  target_compile_options(tolvo_sanitizers INTERFACE
    -fsanitize=${TOLVO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(tolvo_sanitizers INTERFACE -fsanitize=${TOLVO_SANITIZE})
  if(TOLVO_SANITIZE MATCHES "undefined")
    # UBSan's vptr check probes memory through a pipe made without
    # close-on-exec; a child that another thread starts at that moment
    # inherits it, which the descriptor-hygiene tests rightly report.
    target_compile_options(tolvo_sanitizers INTERFACE -fno-sanitize=vptr)
  endif()
endif()
