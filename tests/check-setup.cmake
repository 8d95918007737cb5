# The set-up script's judgement of a system, with `--check`, which changes
# nothing: a system it does not know is refused, with the supported releases
# and the packages to install by hand named; one it knows is taken, and a
# Debian newer than the newest release CI proves is said to be so.
# Usage: cmake -D SETUP=<cmake/setup.sh> -D SCRATCH=<folder> -P check-setup.cmake
cmake_policy(VERSION 3.25)

# Each row: a name, what the script must make of it (refused, taken, newer:
# taken with a word that CI has not proved it), then the os-release lines of
# such a system.
set(systems
    "Fedora|refused|ID=fedora|VERSION_ID=41|VERSION_CODENAME="
    "Debian11|refused|ID=debian|VERSION_ID=11|VERSION_CODENAME=bullseye"
    "DebianWithoutCodename|refused|ID=debian|PRETTY_NAME=\"Debian GNU/Linux\""
    "Ubuntu2004|refused|ID=ubuntu|ID_LIKE=debian|VERSION_ID=20.04|VERSION_CODENAME=focal"
    "Mint|refused|ID=linuxmint|ID_LIKE=ubuntu|VERSION_ID=22|VERSION_CODENAME=wilma"
    "Empty|refused|"
    "Debian12|taken|ID=debian|VERSION_ID=12|VERSION_CODENAME=bookworm"
    "Debian13|taken|ID=debian|VERSION_ID=13|VERSION_CODENAME=trixie"
    "Ubuntu2404|taken|ID=ubuntu|ID_LIKE=debian|VERSION_ID=24.04|VERSION_CODENAME=noble"
    "Debian14|newer|ID=debian|VERSION_ID=14|VERSION_CODENAME=forky"
    "DebianTesting|newer|ID=debian|PRETTY_NAME=\"Debian GNU/Linux forky/sid\"|VERSION_CODENAME=forky"
    "DebianTestingByName|newer|ID=debian|PRETTY_NAME=\"Debian GNU/Linux forky/sid\"")
set(problems "")
file(MAKE_DIRECTORY ${SCRATCH})
foreach(system IN LISTS systems)
    string(REPLACE "|" ";" lines "${system}")
    list(POP_FRONT lines name expected)
    list(JOIN lines "\n" text)
    file(WRITE ${SCRATCH}/${name} "${text}\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env OS_RELEASE=${SCRATCH}/${name} ${SETUP} --check
                    INPUT_FILE /dev/null RESULT_VARIABLE status
                    OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(expected STREQUAL "refused")
        set(right FALSE)
        if(NOT status EQUAL 0 AND output MATCHES "Debian 12 \\(bookworm\\)"
           AND output MATCHES "testing and unstable" AND output MATCHES "by hand: cmake ")
            set(right TRUE)
        endif()
    else()
        set(right FALSE)
        set(said_newer no)
        if(output MATCHES "newer than Debian 13, the newest release CI proves")
            set(said_newer newer)
        endif()
        if(status EQUAL 0 AND output MATCHES "a system this script sets up"
           AND (said_newer STREQUAL expected OR (said_newer STREQUAL "no" AND expected STREQUAL "taken")))
            set(right TRUE)
        endif()
    endif()
    if(NOT right)
        list(APPEND problems "${name} (${expected}): status ${status}: ${output}")
    endif()
endforeach()
file(REMOVE_RECURSE ${SCRATCH})
if(problems)
    list(JOIN problems "\n" text)
    message(FATAL_ERROR "${text}")
endif()
