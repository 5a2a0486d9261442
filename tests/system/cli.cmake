# zorvik against the simulator and the local A-GPS server, driven from Python
# (Debian's pynmea2 reads the recordings).
if(TARGET zorvik AND TARGET receiver-sim AND ZORVIK_SYSTEM_PYTHON)
  add_test(NAME cli_commands
    COMMAND ${ZORVIK_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_cli.py)
  set_tests_properties(cli_commands PROPERTIES LABELS "system" TIMEOUT 600
    ENVIRONMENT "ZORVIK_CLI=$<TARGET_FILE:zorvik>;ZORVIK_RECEIVER_SIM=$<TARGET_FILE:receiver-sim>;ZORVIK_AGPS_SERVER=${PROJECT_SOURCE_DIR}/tools/agps-server/agps_server.py;ZORVIK_NMEA_LOG_DIR=${ZORVIK_NMEA_LOG_DIR}")
endif()
