# Runs the program with the terminal as its standard input, for the `run`
# target. `cmake --workflow` gives its steps /dev/null as input, where the
# pause would meet end of file at once; the controlling terminal (the
# console's input on Windows) is where the user's key comes from. Without one
# the program gets the input this script was given.
# Usage: cmake -D PROGRAM=... -P run-in-terminal.cmake
cmake_policy(VERSION 3.25)

if(CMAKE_HOST_WIN32)
    set(terminal "CONIN$")
else()
    set(terminal /dev/tty)
endif()

execute_process(COMMAND ${PROGRAM} INPUT_FILE ${terminal} RESULT_VARIABLE result)
if(NOT result MATCHES "^[0-9]+$")
    # The terminal could not be opened, so the program has not run.
    execute_process(COMMAND ${PROGRAM} RESULT_VARIABLE result)
endif()
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ended with: ${result}")
endif()
