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
  if(T_DISPLAY)
    add_test(NAME ${name} COMMAND bash ${PROJECT_SOURCE_DIR}/tests/with-xvfb.sh $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(CORVANE_SANITIZE STREQUAL "thread")
    # Qt, libobs, its plugins and Mesa are not built with ThreadSanitizer: their atomics and
    # futex locks are invisible to it, so it would blame their memory hand-overs on us.
    # This ignores only the accesses that their own calls into the runtime make; our code's
    # accesses are still checked against each other, and their pthread locks still count.
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT_MODIFICATION
      "TSAN_OPTIONS=string_append: ignore_noninstrumented_modules=1")
  endif()
endfunction()
