# TOLVO_SANITIZE="address,undefined" or "thread" builds everything with those
# sanitizers; reports abort the run so tests cannot pass over them.
add_library(tolvo_sanitizers INTERFACE)
if(TOLVO_SANITIZE)
  target_compile_options(tolvo_sanitizers INTERFACE
    -fsanitize=${TOLVO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(tolvo_sanitizers INTERFACE -fsanitize=${TOLVO_SANITIZE})
endif()
