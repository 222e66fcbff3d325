# Warnings are errors in all of our own code; third-party headers come in as system includes.
add_library(corvane-warnings INTERFACE)
target_compile_options(corvane-warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused
  -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough -Werror)
# GCC 12 (Debian 12) reports a std::string member of an aggregate built with {} through
# Qt's slot objects as maybe-uninitialized at -O3; later GCCs do not. It stays a warning there.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(corvane-warnings INTERFACE -Wno-error=maybe-uninitialized)
endif()
target_compile_definitions(corvane-warnings INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_NO_KEYWORDS)
# Product code says which texts are Latin-1 and which UTF-8; test tables may use plain literals.
add_library(corvane-strict-strings INTERFACE)
target_compile_definitions(corvane-strict-strings INTERFACE QT_NO_CAST_FROM_ASCII)

if(CORVANE_SANITIZE)
  list(JOIN CORVANE_SANITIZE "," _corvane_san)
  add_compile_options(-fsanitize=${_corvane_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_corvane_san})
endif()
