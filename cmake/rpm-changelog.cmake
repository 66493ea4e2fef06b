# Writes the entries of INPUT, a changelog in Debian's format, to OUTPUT in
# the format of an RPM's %changelog, each version followed by RELEASE:
#
#   tabfold (1.0.0) unstable; urgency=medium      * Sun Dec 06 2026 NAME <MAIL> - 1.0.0-1
#     * A change,                           ->    - A change,
#       on two lines.                               on two lines.
#    -- NAME <MAIL>  Sun, 06 Dec 2026 23:00:00 +0000
#
# Run with cmake -D INPUT=... -D OUTPUT=... -D RELEASE=... -P.
file(READ ${INPUT} text)
# One list element a line, the semicolons of the text kept apart.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(entries "")
set(body "")
foreach(line IN LISTS lines)
    string(REPLACE "${semicolon}" ";" line "${line}")
    string(REPLACE "%" "%%" line "${line}")  # (rpmbuild expands macros in it)
    if(line MATCHES "^[^ ]+ \\(([^)]+)\\) ")
        set(version ${CMAKE_MATCH_1})
    elseif(line MATCHES "^  \\* (.*)")
        string(APPEND body "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.*)")
        string(APPEND body "  ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^ -- (.+)  ([A-Z][a-z][a-z]), ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) ")
        string(APPEND entries "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${CMAKE_MATCH_3} ${CMAKE_MATCH_5} "
                              "${CMAKE_MATCH_1} - ${version}-${RELEASE}\n${body}\n")
        set(body "")
    elseif(NOT line STREQUAL "")
        message(FATAL_ERROR "${INPUT}: a line of no known form: ${line}")
    endif()
endforeach()
string(STRIP "${entries}" entries)
file(WRITE ${OUTPUT} "${entries}\n")
