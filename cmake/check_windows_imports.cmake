# Checks that every Windows program of the build imports only DLLs that Windows itself ships, so
# each .exe runs on its own (everything else is linked statically).
#   cmake -DOBJDUMP=<x86_64-w64-mingw32-objdump> -DPROGRAMS=<file, one .exe a line> -P check_windows_imports.cmake
cmake_minimum_required(VERSION 3.25)
set(system_dlls
  advapi32 bcrypt comctl32 comdlg32 crypt32 d2d1 d3d11 dwmapi dwrite dxgi gdi32 imm32 kernel32 msvcrt
  oleacc ole32 oleaut32 secur32 setupapi shcore shell32 shlwapi ucrtbase user32 uxtheme version windowscodecs
  winhttp winmm ws2_32)

file(STRINGS "${PROGRAMS}" programs)
set(checked 0)
foreach(program IN LISTS programs)
  execute_process(COMMAND "${OBJDUMP}" -p "${program}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(SEND_ERROR "${program}: objdump failed")
    continue()
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(line IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: (.+)\\.[dD][lL][lL]$" "\\1" dll "${line}")
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST system_dlls AND NOT dll MATCHES "^api-ms-win-")
      message(SEND_ERROR "${program} imports ${dll}.dll, which is not a Windows system DLL")
    endif()
  endforeach()
  math(EXPR checked "${checked} + 1")
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no Windows programs listed in ${PROGRAMS}")
endif()
message(STATUS "${checked} programs checked")
