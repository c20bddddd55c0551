# Project-wide warning flags, applied to every target through velgor_warnings.
add_library(velgor_warnings INTERFACE)
target_compile_options(velgor_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wformat=2)
# Clang checks the locking rules written into the code (see src/sys/thread_safety.h).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(velgor_warnings INTERFACE -Wthread-safety)
endif()
if(VELGOR_WERROR)
  target_compile_options(velgor_warnings INTERFACE -Werror)
endif()

# velgor_core_library(name sources...): a core library, built with the project's
# warnings, with src/ as its include root.
function(velgor_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE velgor_warnings)
endfunction()
