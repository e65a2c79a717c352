# Warnings, sanitizers and the Windows settings shared by every target.

function(morvanta_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${MORVANTA_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
            $<$<BOOL:${MORVANTA_WERROR}>:-Werror>)
    endif()
endfunction()

if(MORVANTA_SANITIZE AND NOT WIN32)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
    add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
    if(MINGW)
        # Only system DLLs at run time: the posix-thread mingw runtime would
        # otherwise pull in libwinpthread-1.dll.
        add_link_options(-static)
        # Reproducible: no link time stamp and no build paths in the output.
        add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
        add_link_options(-Wl,--no-insert-timestamp)
    endif()
endif()

# Product code carries no exception tables or RTTI and keeps only the
# functions it calls; tests keep the defaults.
function(morvanta_product_flags target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /GR- /EHs-c- /Gy)
    else()
        target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
            -ffunction-sections -fdata-sections $<$<CONFIG:Release>:-Os>)
    endif()
    morvanta_warnings(${target})
endfunction()

# A shipped Windows program (GUI with wWinMain or console with wmain, as its
# add_executable says): unused code and symbols dropped, and the image flags that binary-hardening checks look for. ASLR
# and DEP are the linkers' defaults; terminal-server aware spares the program
# Remote Desktop's INI and registry compatibility mapping, which it does not
# need. A 32-bit image also declares its exception handling: MinGW's code
# registers no SEH frames (unwinding is DWARF-2), so it says so ("no SEH");
# MSVC's run-time library does use SEH, so it gets a SafeSEH table instead.
function(morvanta_windows_program target)
    morvanta_product_flags(${target})
    if(MSVC)
        target_link_options(${target} PRIVATE /OPT:REF /OPT:ICF /TSAWARE)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            target_link_options(${target} PRIVATE /SAFESEH)
        endif()
    elseif(MINGW)
        target_link_options(${target} PRIVATE -municode -Wl,--gc-sections $<$<CONFIG:Release,MinSizeRel>:-s>
            -Wl,--tsaware)
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            target_link_options(${target} PRIVATE -Wl,--no-seh)
        endif()
    endif()
endfunction()
