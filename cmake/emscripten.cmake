# The program for the web: WebAssembly built with Emscripten (Debian:
# emscripten), through the CMake platform file Emscripten ships. It makes
# build/<preset>/person.html, one self-contained page, and
# build/<preset>/person.js, the same program for Node.js.
find_program(PERSON_EM_CONFIG em-config)
if(NOT PERSON_EM_CONFIG)
    message(FATAL_ERROR "This build needs Emscripten; on Debian: apt-get install emscripten "
                        "(cmake/setup.sh installs it)")
endif()
execute_process(COMMAND ${PERSON_EM_CONFIG} EMSCRIPTEN_ROOT
                OUTPUT_VARIABLE person_emscripten_root OUTPUT_STRIP_TRAILING_WHITESPACE)
include(${person_emscripten_root}/cmake/Modules/Platform/Emscripten.cmake)

# Emscripten's optimiser runs under Node.js and needs Debian's node modules
# (acorn), which a Node.js from elsewhere does not look for. The linker is
# the only step that runs it.
if(EXISTS /usr/share/nodejs)
    set(person_node_path /usr/share/nodejs)
    if(DEFINED ENV{NODE_PATH})
        string(APPEND person_node_path ":$ENV{NODE_PATH}")
    endif()
    set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=${person_node_path})
endif()

# Smallest code: the page is downloaded whole before it runs.
set(CMAKE_CXX_FLAGS_MINSIZEREL_INIT "-Oz -DNDEBUG")
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT "-Oz")
