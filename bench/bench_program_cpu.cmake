# The program's CPU share and a no-loss check at 115200, measured on the real
# windows and reader (offscreen) against the receiver simulator:
#   build/bench/bench/program_cpu_harness [--seconds N] [--minutes M]
# bench_program_cpu.sh measures the built program itself under a virtual display.
if(TARGET zorvik_app_core AND TARGET receiver-sim)
  find_package(Qt6 REQUIRED COMPONENTS Test Widgets)
  add_executable(program_cpu_harness ${CMAKE_CURRENT_SOURCE_DIR}/bench_program_cpu.cc)
  set_target_properties(program_cpu_harness PROPERTIES AUTOMOC ON)
  target_include_directories(program_cpu_harness PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(program_cpu_harness PRIVATE zorvik_app_core Qt6::Test zorvik_settings)
  target_compile_definitions(program_cpu_harness PRIVATE
    ZORVIK_RECEIVER_SIM="$<TARGET_FILE:receiver-sim>"
    ZORVIK_BUSY_DIRECTORY_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/busy_directory.py")
  add_dependencies(program_cpu_harness receiver-sim)
endif()
