# Warning flags shared by every target of the project.
add_compile_options(-Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # Checks the lock annotations of Platform/ThreadAnnotations.h.
  add_compile_options(-Wthread-safety)
endif()
if(BASECOMMS_WERROR)
  add_compile_options(-Werror)
endif()
