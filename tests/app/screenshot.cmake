# The README's screenshot must not go stale unnoticed: run the scripted demo
# (simulator and program under a virtual display), then check its picture for
# a 3D fix on screen: green position fields, signal bars, satellite discs.
find_program(ZORVIK_XVFB Xvfb)
find_program(ZORVIK_XDOTOOL xdotool)
find_program(ZORVIK_IMPORT import)
add_executable(screenshot_check ${CMAKE_CURRENT_SOURCE_DIR}/screenshot_check.cpp)
target_link_libraries(screenshot_check PRIVATE Qt6::Gui zorvik_settings)
if(ZORVIK_XVFB AND ZORVIK_XDOTOOL AND ZORVIK_IMPORT AND EXISTS ${PROJECT_SOURCE_DIR}/scripts/demo.sh
   AND TARGET receiver-sim)
  add_test(NAME live_view_screenshot
    COMMAND bash -c [=[
set -e
shot="$(mktemp /tmp/zorvik-screenshot.XXXXXX.png)"
trap 'rm -f "$shot"' EXIT
env -u DISPLAY "$0" --build-dir "$1" --seconds 8 --sim-arg --time-scale --sim-arg 0.2 --screenshot "$shot" >/dev/null
"$2" "$shot"
]=] ${PROJECT_SOURCE_DIR}/scripts/demo.sh ${PROJECT_BINARY_DIR} $<TARGET_FILE:screenshot_check>)
  set_tests_properties(live_view_screenshot PROPERTIES LABELS "app;system" TIMEOUT 120
    RUN_SERIAL ON)
endif()
