# Checks the release program from its ELF headers: self-contained (no program
# interpreter, no shared libraries), position independent, with full RELRO
# and a stack that cannot be executed.
# Usage: cmake -D READELF=... -D EXE=... -P check-linux-executable.cmake
cmake_policy(VERSION 3.25)

execute_process(COMMAND ${READELF} --wide --file-header --program-headers --dynamic ${EXE}
                OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cannot read ${EXE}")
endif()

set(problems "")
if(NOT headers MATCHES "Type:[ \t]+DYN")
    list(APPEND problems "not position independent (ELF type is not DYN)")
endif()
if(headers MATCHES "INTERP")
    list(APPEND problems "needs a program interpreter")
endif()
if(headers MATCHES "\\(NEEDED\\)")
    string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${headers}")
    list(APPEND problems "needs shared libraries: ${needed}")
endif()
if(NOT headers MATCHES "GNU_RELRO")
    list(APPEND problems "no RELRO segment")
endif()
if(NOT headers MATCHES "\\(FLAGS\\)[ \t]+BIND_NOW" AND NOT headers MATCHES "FLAGS_1\\)[^\n]*NOW")
    list(APPEND problems "RELRO is partial (no BIND_NOW)")
endif()
if(NOT headers MATCHES "FLAGS_1\\)[^\n]*PIE")
    list(APPEND problems "not marked PIE")
endif()
if(headers MATCHES "GNU_STACK[^\n]*RWE")
    list(APPEND problems "executable stack")
endif()

if(problems)
    list(JOIN problems "; " text)
    message(FATAL_ERROR "${EXE}: ${text}")
endif()
message(STATUS "${EXE}: static-pie, full RELRO, no shared libraries")
