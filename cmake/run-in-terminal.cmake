# Runs the program with the terminal as its standard input, for the `run`
# target. `cmake --workflow` gives its steps /dev/null as input, where the
# pause would meet end of file at once; the controlling terminal (the
# console's input on Windows) is where the user's key comes from. Without one
# the program gets the input this script was given.
#
# In a terminal whose character set is UTF-8 the program runs inside luit
# (where LUIT names it), a GBK terminal inside that one: its lines show in
# Chinese, as in a console set to code page 936. The program's bytes are
# the same; the conversion is the terminal's.
#
# Usage: cmake -D PROGRAM=... [-D LAUNCHER=...] [-D LUIT=...] -P run-in-terminal.cmake
cmake_policy(VERSION 3.25)

if(CMAKE_HOST_WIN32)
    set(terminal "CONIN$")
else()
    set(terminal /dev/tty)
endif()
set(command ${LAUNCHER} ${PROGRAM})

set(through_luit FALSE)
if(LUIT AND NOT CMAKE_HOST_WIN32)
    # CMake hands its children a pipe of its own: this asks of CMake's output.
    execute_process(COMMAND test -t 1 OUTPUT_FILE /dev/stdout RESULT_VARIABLE not_a_terminal)
    execute_process(COMMAND locale charmap OUTPUT_VARIABLE charset ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(not_a_terminal EQUAL 0 AND charset STREQUAL "UTF-8")
        set(through_luit TRUE)
    endif()
endif()

if(through_luit)
    # luit reads keys from and writes the screen to its standard input, which
    # is the terminal, read and write. It does not pass on how the program
    # ended: a shell inside it writes the status down (128 + N for signal N,
    # as shells report it). The terminal's keys signal the shell too; it
    # catches them (the program starts with every signal's default action).
    set(status_file ${CMAKE_CURRENT_BINARY_DIR}/person-run.status)
    file(REMOVE ${status_file})
    execute_process(COMMAND /bin/sh -c [[exec "$@" 0<>/dev/tty 1>&0]] luit
                            ${LUIT} -encoding GBK -- /bin/sh -c [[trap : INT QUIT; "$@"; echo $? >"$0"]]
                            ${status_file} ${command}
                    RESULT_VARIABLE luit_result)
    if(EXISTS ${status_file})
        file(STRINGS ${status_file} result)
        file(REMOVE ${status_file})
        if(result GREATER 128)
            math(EXPR signal "${result} - 128")
            set(result "signal ${signal}")
        endif()
    else()
        set(result "luit: ${luit_result}")
    endif()
else()
    execute_process(COMMAND ${command} INPUT_FILE ${terminal} RESULT_VARIABLE result)
    if(NOT result MATCHES "^[0-9]+$")
        # The terminal could not be opened, so the program has not run.
        execute_process(COMMAND ${command} RESULT_VARIABLE result)
    endif()
endif()
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ended with: ${result}")
endif()
