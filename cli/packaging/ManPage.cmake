# Writes the man page of zorvik with help2man from its --help, with a COMMANDS
# section made of each command's own --help (its example included) and the
# sections on several ports, waits, signals, files and exit statuses (the
# package build compresses it).
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
file(APPEND "${include_file}" [=[
[SEVERAL PORTS]
\fB\-p\fR may be given more than once: the command then runs on every port at once, one
process per port, and every line of text output begins with the port name and ": ".
\fBagps\fR downloads once and uploads to every port. \fBports\fR, \fBmonitor\fR and
\fBrecord\fR take one port. The exit status is 0 only when every port succeeded.
.PP
With \fB\-\-json\fR each port gives one JSON object on a line of standard output, always
with "port" (the name as given) and "ok", and "error" (the message text mode prints) on
failure; \fBmonitor\fR gives one object per epoch with "port" and the epoch's values but
no "ok" (null for each value that did not come in that epoch's own sentences, and
"checksum_dropped", the number of lines dropped during the epoch because their checksum
was wrong or missing: a noisy cable shows here), and on failure a last object with
"ok": false. \fBflash\fR adds "kind", "file",
"bytes", "sha256", "seconds", "result" and, after a successful flash, "version" with
"firmware", "kernel" and "fsa" as read back from the receiver ("version": null when a
cancel that came too late stopped the run before the read-back). \fBagps\fR adds "kind",
"bytes" and "fresh" (true when this run's download was uploaded).
.PP
Results go to standard output; progress, warnings and errors to standard error, each
error naming its port.
[WAITS AND RATES]
\fB\-\-timeout\fR S (default 5) is the longest any step waits for the receiver to speak or
answer. Every command that sends first waits for valid, checksummed sentences at the
given rate; \fBmonitor\fR and \fBrecord\fR end with a failure when none has arrived for S
seconds. \fB\-b auto\fR listens at 9600, 115200, 38400, 57600, 19200 and 4800 bps in turn
and says on standard error at which rate the receiver answered. \fBflash\fR does not wait
for sentences: a receiver left in its boot loader sends none, and flashing it again is how
it recovers (it stays in the loader at 115200 bps for about a minute); with \fB\-b auto\fR,
a receiver heard at no rate is looked for in its boot loader at 115200 bps, and the image
goes in when the loader asks for it. \fBagps\fR counts an upload only when the receiver
answers a version query after its input is switched back to NMEA. Option values outside
their range (\fB\-\-timeout\fR above 0 and at most 3600 seconds, \fB\-\-seconds\fR at most
366 days, \fB\-\-wait\fR 0 to 3600 seconds; nan and inf are none) are usage errors.
[DEVICE SERVERS]
A receiver behind a serial device server (ser2net, a terminal server) is named
\fBrfc2217://\fIHOST\fB:\fIPORT\fR or \fBtcp://\fIHOST\fB:\fIPORT\fR (an IPv6 address in
brackets). \fBrfc2217://\fR speaks the telnet COM-port option (RFC 2217): the rate and
8N1 are set on the server's device and confirmed by the server, so every command works,
\fBbaud\fR follows the receiver and \fBflash\fR switches it to 115200 bps. \fBtcp://\fR
passes the bytes as they are at the rate the server has set: \fBmonitor\fR, \fBrecord\fR,
\fBsend\fR, \fBversion\fR, \fBrestart\fR, \fBsentences\fR, \fBsingle\-channel\fR and
\fBagps\fR work, \fBbaud\fR and \fBflash\fR exit 1 before sending anything, and
\fB\-b auto\fR listens once at the server's rate. An unknown host, a refused connection,
a server that does not take COM-port commands within 3 s or sets another rate, and a
connection that ends, each exit 1 with its own words.
[SIGNALS]
Ctrl-C ends \fBmonitor\fR and \fBrecord\fR normally. Otherwise Ctrl-C (during \fBflash\fR,
the second one), SIGTERM and SIGHUP cancel at the next safe step: a transfer or an upload that has
begun runs to its end, and a run that completed anyway reports its result, says that the
cancel came too late and exits 0. A reader that closes the pipe of standard output ends
the run with a failed write ("Broken pipe"), not with SIGPIPE. A standard descriptor closed
at start is held on /dev/null, read-only, so that no port takes its number.
[FILES]
.TP
.B BE.bin, LTE.bin
the broadcast and long-term ephemeris \fBagps\fR downloads, in the current directory
unless \fB\-\-file\fR names another file.
.TP
.B FILE.part
the download in progress beside the ephemeris FILE; it replaces FILE only once it is
whole, and is removed when the download fails, so a failed download keeps the older file.
.TP
.B FILE, FILE.part
the recording \fBrecord\fR writes: into FILE.part beside it, which replaces FILE only once
something was recorded, so a run that records nothing keeps an existing FILE (a device or
a pipe is written directly).
.TP
.B BE.bin (LTE.bin) kept
an answer of the A-GPS server that the upload would find nothing valid in now (expired, or
ahead) does not replace the file, and the message says why.
[EXIT STATUS]
.TP
.B 0
success: the receiver answered, the setting took effect, fresh ephemeris was uploaded
(older only with \fB\-\-allow\-old\fR), the result was written; with several ports, on
every port.
.TP
.B 1
a failure, one line on standard error (a receiver that did not answer within the
timeout, a failed flash or download, a result that could not be written).
.TP
.B 2
a usage error.
.TP
.B 129, 130, 143
cancelled by SIGHUP (the terminal or session went away), Ctrl-C (SIGINT) or SIGTERM.
[EXAMPLES]
A production line: four receivers at a rate found by listening, flashed in parallel, one
JSON record per receiver:
.PP
.nf
zorvik \-p ttyUSB0 \-p ttyUSB1 \-p ttyUSB2 \-p ttyUSB3 \-b auto \-\-json \e
       flash \-\-kind firmware fw.bin
zorvik \-p ttyUSB0 \-p ttyUSB1 \-p ttyUSB2 \-p ttyUSB3 \-b auto \-\-json agps be
.fi
.PP
Each command's own example is in its section above.
]=])
execute_process(
  COMMAND "${HELP2MAN}" --no-info --no-discard-stderr --section 1
          --name "watch, command and service a GPS receiver on a serial port"
          --include "${include_file}" --output "${OUTPUT}" "${ZORVIK}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed")
endif()
