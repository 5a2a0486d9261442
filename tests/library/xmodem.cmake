# The XMODEM tests against an independent receiver (Debian's python3-xmodem).
if(TARGET test_xmodem_receiver)
  target_compile_definitions(test_xmodem_receiver PRIVATE
    ZORVIK_XMODEM_RECEIVE_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/support/xmodem_receive.py")
endif()
