# Checks the manual page: it renders with no warning from man (groff's
# warnings included) and has the sections a user looks for.
# Usage: cmake -D MAN=<man> -D PAGE=<person.1> -P check-manual.cmake
cmake_policy(VERSION 3.25)

set(ENV{LC_ALL} C.UTF-8)
set(ENV{MANWIDTH} 80)
execute_process(COMMAND ${MAN} --warnings -l ${PAGE}
                OUTPUT_VARIABLE page ERROR_VARIABLE warnings RESULT_VARIABLE failed)
set(problems "")
if(failed OR NOT warnings STREQUAL "")
    list(APPEND problems "man reports: ${failed} ${warnings}")
endif()
foreach(section IN ITEMS NAME SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES "SEE ALSO")
    if(NOT page MATCHES "\n${section}\n")
        list(APPEND problems "no ${section} section")
    endif()
endforeach()
if(NOT page MATCHES "iconv\\(1\\)")
    list(APPEND problems "does not refer to iconv(1)")
endif()
if(problems)
    list(JOIN problems "; " text)
    message(FATAL_ERROR "${PAGE}: ${text}")
endif()
message(STATUS "${PAGE}: renders with no warning")
