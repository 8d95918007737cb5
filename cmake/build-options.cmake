# Compiler settings shared by every target of the project, carried by the
# interface target person_options rather than by global flags.

option(PERSON_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(PERSON_HARDEN "Build a self-contained, hardened program" OFF)

add_library(person_options INTERFACE)
target_compile_features(person_options INTERFACE cxx_std_17)
set_target_properties(person_options PROPERTIES CXX_EXTENSIONS OFF)

if(MSVC)
    # /utf-8: the sources are UTF-8 (the Chinese text in comments); the
    # program's own lines are byte escapes, which no character set changes.
    target_compile_options(person_options INTERFACE /W4 /WX /permissive- /utf-8)
else()
    target_compile_options(person_options INTERFACE
        -Wall -Wextra -Wpedantic -Werror -Wshadow -Wconversion -Wsign-conversion)
endif()

if(PERSON_SANITIZE)
    if(MSVC)
        message(FATAL_ERROR "PERSON_SANITIZE needs GCC or Clang")
    endif()
    set(person_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all
        -fno-omit-frame-pointer)
    target_compile_options(person_options INTERFACE ${person_sanitizers})
    target_link_options(person_options INTERFACE ${person_sanitizers})
endif()

# Hardening of the shipped program. The compile flags go to everything it is
# built from; the link flags (person_program_link) only to the program itself,
# so that the tests still link the usual way.
add_library(person_program_link INTERFACE)
if(PERSON_HARDEN AND NOT MSVC)
    target_compile_options(person_options INTERFACE
        -fstack-protector-strong -ffunction-sections -fdata-sections)
    target_compile_definitions(person_options INTERFACE
        $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    if(WIN32)
        # One file to copy: libstdc++, libgcc and winpthread linked in, ASLR
        # and DEP switched on. No link time in the header, so that two builds
        # of one source give the same file.
        target_link_options(person_program_link INTERFACE
            -static -fstack-protector-strong
            LINKER:--dynamicbase LINKER:--nxcompat LINKER:--gc-sections
            LINKER:--no-insert-timestamp)
        if(CMAKE_SIZEOF_VOID_P EQUAL 8)
            # A 64-bit program may be placed anywhere in its address space.
            target_link_options(person_program_link INTERFACE LINKER:--high-entropy-va)
        endif()
    elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
        # Runs on any Linux of its CPU: static, yet position independent, with
        # full RELRO. Packed relative relocations make the start-up
        # relocation pass about half as long: binutils 2.38 and later have
        # them for x86-64; for other CPUs some versions only warn that they
        # ignore the flag.
        target_compile_options(person_options INTERFACE -fPIE)
        target_link_options(person_program_link INTERFACE
            -static-pie -fstack-protector-strong
            LINKER:-z,relro LINKER:-z,now LINKER:-z,noexecstack LINKER:--gc-sections)
        include(CheckCXXSourceCompiles)
        set(CMAKE_REQUIRED_LINK_OPTIONS LINKER:-z,pack-relative-relocs)
        check_cxx_source_compiles("int main() { return 0; }" PERSON_HAVE_PACKED_RELOCS
                                  FAIL_REGEX "relocs ignored")
        unset(CMAKE_REQUIRED_LINK_OPTIONS)
        if(PERSON_HAVE_PACKED_RELOCS)
            target_link_options(person_program_link INTERFACE LINKER:-z,pack-relative-relocs)
        endif()
    endif()
endif()
