# Checks a package as a user or a distribution receives it.
#   deb:     the files Debian expects (program, manual page, copyright,
#            changelog, README, lintian overrides), the control fields,
#            lintian's report (no error, no warning), and the program as
#            installed from it writes exactly its bytes (run by EMULATOR
#            where it is built for another CPU).
#   tgz/zip: the program (the web's: its page), the README and LICENSE.
# Each package must be listed with its right sum in SHA256SUMS beside it, and
# with READELF, the Linux program in it must be stripped.
# Usage: cmake -D FORMAT=deb|tgz|zip -D PACKAGE=... [-D ARCH=amd64|arm64] [-D EMULATOR=...]
#              [-D LINTIAN=...] [-D READELF=...] -P check-package.cmake
cmake_policy(VERSION 3.25)

get_filename_component(directory ${PACKAGE} DIRECTORY)
get_filename_component(name ${PACKAGE} NAME)
set(scratch ${directory}/../package-check/${name})
file(REMOVE_RECURSE ${scratch})
file(MAKE_DIRECTORY ${scratch})

set(problems "")
# Notes a problem unless the condition, an if() expression, holds.
macro(require condition problem)
    cmake_language(EVAL CODE "if(NOT (${condition}))\nlist(APPEND problems [==[${problem}]==])\nendif()")
endmacro()

file(SHA256 ${PACKAGE} sum)
file(STRINGS ${directory}/SHA256SUMS sums)
require("\"${sum}  ${name}\" IN_LIST sums" "SHA256SUMS does not list ${name} with its sum")

if(FORMAT STREQUAL "deb")
    execute_process(COMMAND dpkg-deb -x ${PACKAGE} ${scratch} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "cannot unpack ${PACKAGE}")
    endif()
    foreach(file IN ITEMS usr/bin/person usr/share/man/man1/person.1.gz
                          usr/share/doc/person/copyright usr/share/doc/person/changelog.gz
                          usr/share/doc/person/README.md usr/share/lintian/overrides/person)
        require("EXISTS ${scratch}/${file}" "no /${file}")
    endforeach()
    file(READ ${scratch}/usr/share/doc/person/copyright copyright)
    require("copyright MATCHES \"^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\"
             AND copyright MATCHES \"\\nLicense: Expat\\n\""
            "the copyright file is not Debian's machine-readable format with the MIT (Expat) license")

    execute_process(COMMAND dpkg-deb --field ${PACKAGE} OUTPUT_VARIABLE control)
    foreach(field IN ITEMS "Package: person" "Architecture: ${ARCH}\n" "Section: misc"
                           "Priority: optional" "Maintainer: [^\n]+<[^\n]+@[^\n]+>"
                           "Description: [^\n]+\n [^\n]+")
        require("control MATCHES \"${field}\"" "control field missing: ${field}")
    endforeach()

    if(LINTIAN)
        execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${PACKAGE}
                        RESULT_VARIABLE failed OUTPUT_VARIABLE report ERROR_VARIABLE report)
        string(REGEX REPLACE "[^\n]*root privileges[^\n]*\n?" "" report "${report}")
        require("NOT failed" "lintian: ${report}")
    endif()

    # The installed program, run as a user would: its bytes, the prompt and
    # the newline after it, and status 0.
    string(HEX "Press any key to continue . . . " prompt)
    set(expected "506572736f6eb5c4c4acc8cfb9b9d4ecbaafcafdb5f7d3c30a"
                 "506572736f6eb5c4cef6b9b9baafcafdb5f7d3c30a" "${prompt}0a")
    string(JOIN "" expected ${expected})
    execute_process(COMMAND ${EMULATOR} ${scratch}/usr/bin/person INPUT_FILE /dev/null
                    OUTPUT_FILE ${scratch}/output RESULT_VARIABLE status)
    file(READ ${scratch}/output output HEX)
    require("status STREQUAL \"0\"" "the installed program ended with ${status}")
    require("output STREQUAL expected" "the installed program wrote ${output}")
    set(program ${scratch}/usr/bin/person)
    set(summary "Debian package, lintian clean, installed program writes its bytes")
elseif(FORMAT STREQUAL "tgz" OR FORMAT STREQUAL "zip")
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${PACKAGE}
                    WORKING_DIRECTORY ${scratch} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "cannot unpack ${PACKAGE}")
    endif()
    string(REGEX REPLACE "\\.(tar\\.gz|zip)$" "" top ${name})
    if(FORMAT STREQUAL "tgz")
        set(license share/doc/person/LICENSE)
        set(files bin/person share/doc/person/README.md share/man/man1/person.1.gz)
        set(program ${scratch}/${top}/bin/person)
    elseif(name MATCHES "-web\\.zip$")
        set(license LICENSE)
        set(files person.html README.md)
    else()
        set(license LICENSE)
        set(files person.exe README.md)
    endif()
    foreach(file IN LISTS files license)
        require("EXISTS ${scratch}/${top}/${file}" "no ${top}/${file}")
    endforeach()
    if(EXISTS ${scratch}/${top}/${license})
        file(READ ${scratch}/${top}/${license} text)
        require("text MATCHES \"^MIT License\"" "LICENSE is not the MIT license")
    endif()
    set(summary "archive with the program, README and LICENSE")
else()
    message(FATAL_ERROR "FORMAT must be deb, tgz or zip")
endif()

# Stripped by tools that know the program's CPU: no symbol table left.
if(READELF AND EXISTS "${program}")
    execute_process(COMMAND ${READELF} --wide --section-headers ${program}
                    OUTPUT_VARIABLE sections)
    if(sections MATCHES " \\.symtab ")
        list(APPEND problems "the program is not stripped")
    endif()
endif()

file(REMOVE_RECURSE ${scratch})
if(problems)
    list(JOIN problems "; " text)
    message(FATAL_ERROR "${PACKAGE}: ${text}")
endif()
message(STATUS "${PACKAGE}: ${summary}")
