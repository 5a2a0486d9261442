# Writes the man page of zorvik with help2man from its --help, with a COMMANDS
# section made of each command's own --help (the package build compresses it).
# cmake -DZORVIK=<binary> -DHELP2MAN=<help2man> -DOUTPUT=<zorvik.1> -DWORK=<dir> -P ManPage.cmake
set(commands ports monitor record send version restart baud sentences single-channel flash agps)
set(include_file "${WORK}/zorvik.h2m")
file(WRITE "${include_file}" "[COMMANDS]\n")
foreach(command ${commands})
  execute_process(COMMAND "${ZORVIK}" ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "zorvik ${command} --help failed")
  endif()
  # roff: a leading dot or quote would be read as a request; backslashes escape.
  string(REPLACE "\\" "\\\\" help "${help}")
  string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" help "${help}")
  file(APPEND "${include_file}" ".SS ${command}\n.nf\n${help}.fi\n")
endforeach()
file(APPEND "${include_file}" "[EXIT STATUS]\n0 on success, 1 on a failure (one line on standard error), 2 on a usage error.\n")

execute_process(
  COMMAND "${HELP2MAN}" --no-info --no-discard-stderr --section 1
          --name "watch, command and service a GPS receiver on a serial port"
          --include "${include_file}" --output "${OUTPUT}" "${ZORVIK}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed")
endif()
