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

# velgor_core_library(name sources...): one layer of the core, built with the
# project's warnings, with src/ as its include root. A layer is a set of objects
# that states which layers it uses; the layers together make the one core library,
# velgor_core (src/CMakeLists.txt), which everything else links.
function(velgor_core_library name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE velgor_warnings)
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()
