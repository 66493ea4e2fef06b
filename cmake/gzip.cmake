# Compresses INPUT into OUTPUT with GZIP -9n: the smallest file, with no name
# or time stamp in it, so that every build makes the same bytes.  Run with
# cmake -D INPUT=... -D OUTPUT=... -D GZIP=... -P.
execute_process(COMMAND ${GZIP} -9n -c ${INPUT} OUTPUT_FILE ${OUTPUT}
    COMMAND_ERROR_IS_FATAL ANY)
