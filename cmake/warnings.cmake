# Strict warnings for the project's own targets.
add_library(lvx_warnings INTERFACE)
target_compile_options(lvx_warnings INTERFACE
  -Wall -Wextra -Wconversion -Wsign-conversion -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(LVX_WERROR)
  target_compile_options(lvx_warnings INTERFACE -Werror)
endif()
