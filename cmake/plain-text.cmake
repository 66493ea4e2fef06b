# Writes INPUT to OUTPUT as plain text with CRLF line ends, as Windows
# editors want it; a manual page (INPUT ending in .1) is typeset first with
# GROFF.  Run with cmake -D INPUT=... -D OUTPUT=... [-D GROFF=...] -P.
if(INPUT MATCHES "\\.1$")
    execute_process(COMMAND ${GROFF} -t -man -Tascii -P -cbou ${INPUT}
        OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
else()
    file(READ ${INPUT} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
