# Sanitizer settings travel with the tests, so a plain `ctest` run uses them too.
set(CORVANE_SANITIZER_ENV
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
  # Qt, libobs, its plugins and Mesa are not built with ThreadSanitizer: their atomics and
  # futex locks are invisible to it, so it would blame their memory hand-overs on us.
  # ignore_noninstrumented_modules drops only the accesses their own calls into the runtime
  # make; our code's accesses are still checked, and their pthread locks still count.
  "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")

# corvane_add_test(NAME SOURCES... LABELS label... [LIBS lib...] [DISPLAY])
# DISPLAY runs the test with an X display (a private Xvfb unless one is set), as libobs
# needs one to start.
# One QtTest executable per class family. Under ThreadSanitizer only the "concurrency"
# tests are built, since the rest gain nothing from it and would double the build.
function(corvane_add_test name)
  cmake_parse_arguments(T "DISPLAY" "" "SOURCES;LABELS;LIBS" ${ARGN})
  if(CORVANE_SANITIZE STREQUAL "thread" AND NOT "concurrency" IN_LIST T_LABELS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE corvane-logic corvane-warnings Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(T_DISPLAY)
    add_test(NAME ${name} COMMAND bash ${PROJECT_SOURCE_DIR}/tests/with-xvfb.sh $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR};${CORVANE_SANITIZER_ENV}")
endfunction()
