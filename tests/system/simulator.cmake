# The simulator and the A-GPS server read by independent peers: Debian's
# pynmea2 decodes the NMEA stream, python3-xmodem sends to the boot loader,
# Python's own HTTP client fetches the ephemeris files.
if(TARGET receiver-sim AND ZORVIK_SYSTEM_PYTHON)
  foreach(baud 9600 115200)
    add_test(NAME sim_nmea_decodes_${baud}
      COMMAND ${ZORVIK_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_sim_nmea.py
              --sim $<TARGET_FILE:receiver-sim> --baud ${baud} --epochs 8)
    set_tests_properties(sim_nmea_decodes_${baud} PROPERTIES LABELS "system" TIMEOUT 120)
  endforeach()
  add_test(NAME sim_replay
    COMMAND ${ZORVIK_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_sim_replay.py
            --sim $<TARGET_FILE:receiver-sim> --log ${ZORVIK_NMEA_LOG_DIR}/sbas-3msg-groups.nmea)
  set_tests_properties(sim_replay PROPERTIES LABELS "system" TIMEOUT 120)
  add_test(NAME sim_protocol
    COMMAND ${ZORVIK_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_sim_protocol.py)
  set_tests_properties(sim_protocol PROPERTIES LABELS "system" TIMEOUT 300
    ENVIRONMENT "ZORVIK_RECEIVER_SIM=$<TARGET_FILE:receiver-sim>")
endif()
if(ZORVIK_SYSTEM_PYTHON)
  add_test(NAME agps_server
    COMMAND ${ZORVIK_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_agps_server.py)
  set_tests_properties(agps_server PROPERTIES LABELS "system" TIMEOUT 120
    ENVIRONMENT "ZORVIK_AGPS_SERVER=${PROJECT_SOURCE_DIR}/tools/agps-server/agps_server.py")
endif()

# The simulator's own units, tested against hand-made bytes.
if(TARGET test_sim_units AND TARGET receiver_sim_core)
  target_link_libraries(test_sim_units PRIVATE receiver_sim_core)
endif()
