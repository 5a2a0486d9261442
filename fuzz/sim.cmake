# The simulator's input parsers, compiled here from their sources so that the
# fuzzer instruments them (the simulator itself is not built with -fsanitize=fuzzer).
if(TARGET fuzz_sim_input)
  set(sim_dir ${PROJECT_SOURCE_DIR}/tools/receiver-sim)
  target_sources(fuzz_sim_input PRIVATE
    ${sim_dir}/command.cpp ${sim_dir}/nmea.cpp ${sim_dir}/vbi.cpp ${sim_dir}/xmodem.cpp)
  target_include_directories(fuzz_sim_input PRIVATE ${sim_dir})
endif()
