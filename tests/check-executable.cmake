# Checks a shipped program from its headers, as a user's copy of it.
# MACHINE names the CPU as the kernel and the compilers do.
#   elf: for MACHINE x86_64 or aarch64, self-contained (no program
#        interpreter, no shared libraries), position independent, full RELRO,
#        no executable stack.
#   pe:  for MACHINE i686 a PE32 file, for x86_64 a PE32+ file with
#        high-entropy ASLR; either a console program with ASLR and DEP on,
#        importing from Windows' own DLLs only, with no link time stamp; with
#        RESOURCES (windres) and VERSION, also the version resource and the
#        application manifest.
# Usage: cmake -D FORMAT=elf|pe -D MACHINE=<x86_64|aarch64|i686> -D TOOL=<readelf|objdump>
#              -D EXE=... [-D RESOURCES=<windres> -D VERSION=x.y.z] -P check-executable.cmake
cmake_policy(VERSION 3.25)

if(FORMAT STREQUAL "elf")
    set(arguments --wide --file-header --program-headers --dynamic)
elseif(FORMAT STREQUAL "pe")
    set(arguments -p)
else()
    message(FATAL_ERROR "FORMAT must be elf or pe")
endif()
execute_process(COMMAND ${TOOL} ${arguments} ${EXE}
                OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cannot read ${EXE}")
endif()

set(problems "")
function(require regex problem)
    if(NOT headers MATCHES "${regex}")
        set(problems ${problems} "${problem}" PARENT_SCOPE)
    endif()
endfunction()
function(forbid regex problem)
    if(headers MATCHES "${regex}")
        set(problems ${problems} "${problem}" PARENT_SCOPE)
    endif()
endfunction()

if(FORMAT STREQUAL "elf")
    set(elf_machines "x86_64:X86-64" "aarch64:AArch64")
    list(FILTER elf_machines INCLUDE REGEX "^${MACHINE}:")
    list(TRANSFORM elf_machines REPLACE "^.*:" "")
    if(NOT elf_machines)
        message(FATAL_ERROR "MACHINE must be x86_64 or aarch64 for an ELF file")
    endif()
    require("Machine:[ \t]+[^\n]*${elf_machines}\n" "not a program for ${MACHINE}")
    require("Type:[ \t]+DYN" "not position independent (ELF type is not DYN)")
    forbid("INTERP" "needs a program interpreter")
    forbid("\\(NEEDED\\)" "needs shared libraries")
    require("GNU_RELRO" "no RELRO segment")
    require("FLAGS_1\\)[^\n]*NOW" "RELRO is partial (no BIND_NOW)")
    require("FLAGS_1\\)[^\n]*PIE" "not marked PIE")
    forbid("GNU_STACK[^\n]*RWE" "executable stack")
    set(summary "${MACHINE} static-pie, full RELRO, no shared libraries")
else()
    if(MACHINE STREQUAL "x86_64")
        require("file format pei-x86-64\n.*Magic[ \t]+020b" "not a PE32+ x86-64 file")
        set(wanted "0x20:high-entropy ASLR (HIGH_ENTROPY_VA)")
        set(manifest_arch amd64)
    else()
        require("file format pei-i386\n.*Magic[ \t]+010b" "not a PE32 i386 file")
        set(wanted "")
        set(manifest_arch x86)
    endif()
    require("Subsystem[ \t]+00000003" "not a console program")
    string(REGEX MATCH "DllCharacteristics[ \t]+([0-9a-fA-F]+)" _ "${headers}")
    set(characteristics 0x${CMAKE_MATCH_1})
    foreach(flag IN ITEMS "0x40:ASLR (DYNAMIC_BASE)" "0x100:DEP (NX_COMPAT)" ${wanted})
        string(REPLACE ":" ";" flag "${flag}")
        list(GET flag 0 bit)
        list(GET flag 1 name)
        math(EXPR set "${characteristics} & ${bit}")
        if(NOT set)
            list(APPEND problems "${name} off")
        endif()
    endforeach()

    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
    list(TRANSFORM imports REPLACE "DLL Name: *" "")
    set(system_dlls kernel32.dll msvcrt.dll user32.dll advapi32.dll ntdll.dll ws2_32.dll
        shell32.dll)
    foreach(dll IN LISTS imports)
        string(TOLOWER "${dll}" lower)
        if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
            list(APPEND problems "imports ${dll}, which is not a Windows system DLL")
        endif()
    endforeach()
    require("Time/Date[ \t]+Thu Jan  1 00:00:00 1970" "a link time stamp in the header")
    set(summary "${MACHINE} console program, ASLR and DEP on, imports ${imports}")

    if(RESOURCES)
        execute_process(COMMAND ${RESOURCES} -i ${EXE} -O rc
                        OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
        string(REPLACE "." ", " numeric "${VERSION}.0")
        require("FILEVERSION ${numeric}\n" "no FILEVERSION ${numeric}")
        require("PRODUCTVERSION ${numeric}\n" "no PRODUCTVERSION ${numeric}")
        foreach(value IN ITEMS "FileDescription\", \"[^\"]+" "ProductName\", \"person"
                               "FileVersion\", \"${VERSION}" "ProductVersion\", \"${VERSION}"
                               "OriginalFilename\", \"person.exe" "LegalCopyright\", \"Copyright [^\"]+")
            require("VALUE \"${value}\"" "version resource lacks ${value}")
        endforeach()
        require("1 24 /\\* RT_MANIFEST" "no application manifest")
        require("level=\"\"asInvoker\"\"" "the manifest does not run as invoker")
        require("processorArchitecture=\"\"${manifest_arch}\"\"" "the manifest does not name ${manifest_arch}")
        # Windows 7, 8, 8.1, and 10 and 11.
        foreach(os IN ITEMS 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38
                            1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a)
            require("supportedOS Id=\"\"{${os}}" "the manifest does not declare ${os}")
        endforeach()
        string(APPEND summary ", version ${VERSION} and manifest")
    endif()
endif()

if(problems)
    list(JOIN problems "; " text)
    message(FATAL_ERROR "${EXE}: ${text}")
endif()
message(STATUS "${EXE}: ${summary}")
