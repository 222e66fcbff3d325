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

# The floor library that tests in the current folder link: the first folder under tests/.
function(corvane_test_floor out)
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" floor "${rel}")
  if(floor STREQUAL "")
    set(${out} Qt6::Core PARENT_SCOPE)
    return()
  elseif(floor STREQUAL "obs")
    set(floor obs-glue)
  elseif(floor STREQUAL "ble-helper")
    set(floor ble-helper-core)
  endif()
  set(${out} corvane-${floor} PARENT_SCOPE)
endfunction()

# corvane_add_test(NAME SOURCES... LABELS label... [LIBS lib...] [TOOLS tool...] [DISPLAY])
# The test links the floor its folder mirrors (tests/device/usb/ links corvane-device).
# DISPLAY runs the test with an X display (a private Xvfb unless one is set), as libobs
# needs one to start. TOOLS names the programs the test starts (devsim, portal-sim, update-sim,
# ble-helper, obs): each is built first and its path reaches the test as CORVANE_DEVSIM,
# CORVANE_PORTAL_SIM, CORVANE_UPDATE_SIM, CORVANE_BLE_HELPER or CORVANE_MODULE_PATH. A test
# whose tools are not built is left out.
# One QtTest executable per class family. Under ThreadSanitizer only the "concurrency"
# tests are built, since the rest gain nothing from it and would double the build.
function(corvane_add_test name)
  cmake_parse_arguments(T "DISPLAY" "" "SOURCES;LABELS;LIBS;TOOLS" ${ARGN})
  corvane_test_floor(CORVANE_TEST_FLOOR)
  if(CORVANE_SANITIZE STREQUAL "thread" AND NOT "concurrency" IN_LIST T_LABELS)
    return()
  endif()
  set(defines "")
  set(targets "")
  foreach(tool IN LISTS T_TOOLS)
    if(tool STREQUAL "devsim")
      list(APPEND targets corvane-devsim)
      list(APPEND defines CORVANE_DEVSIM="$<TARGET_FILE:corvane-devsim>")
    elseif(tool STREQUAL "portal-sim")
      list(APPEND targets corvane-portal-sim)
      list(APPEND defines CORVANE_PORTAL_SIM="$<TARGET_FILE:corvane-portal-sim>")
    elseif(tool STREQUAL "update-sim")
      list(APPEND targets corvane-update-sim)
      list(APPEND defines CORVANE_UPDATE_SIM="$<TARGET_FILE:corvane-update-sim>")
    elseif(tool STREQUAL "ble-helper")
      list(APPEND targets corvane-ble-helper)
      list(APPEND defines CORVANE_BLE_HELPER="$<TARGET_FILE:corvane-ble-helper>")
    elseif(tool STREQUAL "obs")
      list(APPEND targets corvane-obs)
      list(APPEND defines CORVANE_MODULE_PATH="$<TARGET_FILE:corvane-obs>")
    else()
      message(FATAL_ERROR "corvane_add_test: unknown tool ${tool}")
    endif()
  endforeach()
  foreach(target IN LISTS targets)
    if(NOT TARGET ${target})
      return()
    endif()
  endforeach()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${CORVANE_TEST_FLOOR} corvane-warnings Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE ${defines} CORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(targets)
    add_dependencies(${name} ${targets})
  endif()
  if(T_DISPLAY)
    add_test(NAME ${name} COMMAND bash ${PROJECT_SOURCE_DIR}/tests/with-xvfb.sh $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR};${CORVANE_SANITIZER_ENV}")
endfunction()
