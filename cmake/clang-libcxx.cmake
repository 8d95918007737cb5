# The release toolchain: clang++ with LLVM's C++ library, libc++ and libc++abi
# (Debian: clang, libc++-dev, libc++abi-dev). Its stream start-up costs about
# a quarter of libstdc++'s, which is most of what a run of this program does.
# The choice of standard library is the toolchain's, so it applies to all that
# is built here, GoogleTest included.
set(person_install_hint "apt-get install clang libc++-dev libc++abi-dev")

find_program(PERSON_CLANGXX NAMES clang++ clang++-14 clang++-15 clang++-16)
if(NOT PERSON_CLANGXX)
    message(FATAL_ERROR "This build needs clang++ and LLVM's libc++; on Debian or Ubuntu: "
                        "${person_install_hint}")
endif()
foreach(library IN ITEMS libc++.a libc++abi.a)
    execute_process(COMMAND ${PERSON_CLANGXX} -stdlib=libc++ -print-file-name=${library}
                    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${found}")
        message(FATAL_ERROR "This build needs LLVM's libc++ and libc++abi (${library} not "
                            "found); on Debian or Ubuntu: ${person_install_hint}")
    endif()
endforeach()

set(CMAKE_CXX_COMPILER ${PERSON_CLANGXX})
# CMake passes the compile flags to the link step too.
set(CMAKE_CXX_FLAGS_INIT -stdlib=libc++)
set(PERSON_LIBCXX ON)
