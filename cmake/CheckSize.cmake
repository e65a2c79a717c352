# ctest -P script: fails when PROGRAM is more than 1.5 times the size of BARE.
file(SIZE "${PROGRAM}" programBytes)
file(SIZE "${BARE}" bareBytes)
math(EXPR limitBytes "${bareBytes} * 3 / 2")
message(STATUS "Morvanta.exe ${programBytes} bytes, bare dialog ${bareBytes} bytes, limit ${limitBytes}")
if(programBytes GREATER limitBytes)
    message(FATAL_ERROR "Morvanta.exe is more than 1.5 times the bare dialog executable")
endif()
