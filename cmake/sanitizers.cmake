# Applies the chosen sanitizers to everything built after this point.
if(LVX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(LVX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT LVX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "LVX_SANITIZE must be empty, address or thread")
endif()

# Coverage instrumentation for the fuzz build, with address and undefined-behaviour checks.
if(LVX_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
