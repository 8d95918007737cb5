# The release toolchain: clang++ with LLVM's C++ library, libc++ and libc++abi
# (Debian: clang, libc++-dev, libc++abi-dev). Its stream start-up costs about
# a quarter of libstdc++'s, which is most of what a run of this program does.
# The choice of standard library is the toolchain's, so it applies to all that
# is built here, GoogleTest included.
#
# PERSON_TARGET_ARCH names the CPU the program is for: this machine's by
# default, or aarch64 on an x86-64 machine (a cross build, whose programs run
# here under qemu-user).
#
# On macOS the system's clang++ already uses libc++, and the system libraries
# cannot be linked statically: the build takes the system's compiler as it is.
if(CMAKE_HOST_APPLE)
    return()
endif()

set(PERSON_TARGET_ARCH ${CMAKE_HOST_SYSTEM_PROCESSOR} CACHE STRING
    "CPU of the program: this machine's, or aarch64 on x86-64")
set(person_install_hint "cmake/setup.sh installs them (clang libc++-dev libc++abi-dev)")

find_program(PERSON_CLANGXX NAMES clang++ clang++-14 clang++-15 clang++-16)
if(NOT PERSON_CLANGXX)
    message(FATAL_ERROR "This build needs clang++ and LLVM's libc++; on Debian or Ubuntu: "
                        "${person_install_hint}")
endif()
set(CMAKE_CXX_COMPILER ${PERSON_CLANGXX})
# CMake passes the compile flags to the link step too.
set(CMAKE_CXX_FLAGS_INIT -stdlib=libc++)
set(PERSON_LIBCXX ON)

if(PERSON_TARGET_ARCH STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
    foreach(library IN ITEMS libc++.a libc++abi.a)
        execute_process(COMMAND ${PERSON_CLANGXX} -stdlib=libc++ -print-file-name=${library}
                        OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${found}")
            message(FATAL_ERROR "This build needs LLVM's libc++ and libc++abi (${library} not "
                                "found); on Debian or Ubuntu: ${person_install_hint}")
        endif()
    endforeach()
    return()
endif()

# A cross build for another CPU: Debian's C library and GCC run-time for it
# (libc6-dev-<arch>-cross, libgcc-<gcc version>-dev-<arch>-cross), its linker
# and strip (binutils-<triplet>) and qemu-user to run what is built.
if(NOT PERSON_TARGET_ARCH STREQUAL "aarch64")
    message(FATAL_ERROR "PERSON_TARGET_ARCH: this machine's CPU or aarch64, not '${PERSON_TARGET_ARCH}'")
endif()
set(person_debian_arch arm64)
set(person_triplet aarch64-linux-gnu)
set(person_install_hint "cmake/setup.sh installs them (libc6-dev-${person_debian_arch}-cross "
    "libgcc-<gcc version>-dev-${person_debian_arch}-cross binutils-${person_triplet} qemu-user-static)")
string(JOIN "" person_install_hint ${person_install_hint})

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${PERSON_TARGET_ARCH})
set(CMAKE_CXX_COMPILER_TARGET ${person_triplet})
find_program(PERSON_QEMU NAMES qemu-${PERSON_TARGET_ARCH}-static qemu-${PERSON_TARGET_ARCH})
find_program(PERSON_CROSS_LD ${person_triplet}-ld)
find_program(PERSON_CROSS_STRIP ${person_triplet}-strip)
if(NOT PERSON_QEMU OR NOT PERSON_CROSS_LD OR NOT PERSON_CROSS_STRIP
   OR NOT EXISTS /usr/${person_triplet}/lib/libc.a)
    message(FATAL_ERROR "A build for ${PERSON_TARGET_ARCH} needs its C library, linker, strip "
                        "and emulator; on Debian or Ubuntu: ${person_install_hint}")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${PERSON_QEMU})
# The packaged program is stripped by the target's own binutils: the host's
# strip need not know the target's files (Debian 13's leaves an aarch64
# program as it was).
set(CMAKE_STRIP ${PERSON_CROSS_STRIP} CACHE FILEPATH "strip for ${PERSON_TARGET_ARCH} programs")

# Debian's libc++ for another CPU cannot be installed beside this machine's
# (both packages hold /usr/lib/llvm-<version>/lib/libc++.a), so the build
# takes the static libraries out of that CPU's packages, of the version
# installed here, into a folder of its own. Only the libraries differ; the
# headers are this machine's. apt-get needs the architecture added once:
# dpkg --add-architecture arm64 && apt-get update.
set(PERSON_LIBCXX_DIR ${CMAKE_BINARY_DIR}/libc++-${person_debian_arch} CACHE PATH
    "Where the target's libc++ packages are unpacked")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PERSON_TARGET_ARCH PERSON_LIBCXX_DIR)
execute_process(COMMAND ${PERSON_CLANGXX} -dumpversion OUTPUT_VARIABLE person_llvm_version
                OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "^[0-9]+" person_llvm_major "${person_llvm_version}")
set(person_libcxx_lib ${PERSON_LIBCXX_DIR}/usr/lib/llvm-${person_llvm_major}/lib)
if(NOT EXISTS ${person_libcxx_lib}/libc++.a OR NOT EXISTS ${person_libcxx_lib}/libc++abi.a)
    execute_process(COMMAND dpkg-query -W -f=\${Version} libc++-${person_llvm_major}-dev
                    OUTPUT_VARIABLE person_libcxx_version RESULT_VARIABLE failed)
    set(packages libc++-${person_llvm_major}-dev libc++abi-${person_llvm_major}-dev)
    list(TRANSFORM packages APPEND ":${person_debian_arch}=${person_libcxx_version}")
    file(REMOVE_RECURSE ${PERSON_LIBCXX_DIR})
    file(MAKE_DIRECTORY ${PERSON_LIBCXX_DIR})
    if(NOT failed)
        execute_process(COMMAND apt-get download -q ${packages}
                        WORKING_DIRECTORY ${PERSON_LIBCXX_DIR} RESULT_VARIABLE failed)
    endif()
    file(GLOB person_debs ${PERSON_LIBCXX_DIR}/*.deb)
    foreach(deb IN LISTS person_debs)
        execute_process(COMMAND dpkg-deb -x ${deb} ${PERSON_LIBCXX_DIR})
    endforeach()
    if(failed OR NOT EXISTS ${person_libcxx_lib}/libc++.a)
        message(FATAL_ERROR "Cannot take libc++ for ${person_debian_arch} from apt "
                            "(${packages}). As root: dpkg --add-architecture "
                            "${person_debian_arch} && apt-get update; and: ${person_install_hint}")
    endif()
endif()
# Every program of the build, tests included, is linked static, so that qemu
# runs it without a tree of the target's shared libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -L${person_libcxx_lib}")
