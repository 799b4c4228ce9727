# The mingw runtime that every module of the Windows build shares: libgcc,
# libstdc++ and winpthread as DLLs. They are copied beside the programs, where
# Windows finds them; a package of the bridge must ship the same three files
# beside status-bridge.exe (STATUS_BRIDGE_MINGW_RUNTIME_DLLS lists them).

# Programs and DLLs of the build share one folder, so that each finds the
# runtime and the string runtime DLL beside it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

# libgcc's DLL is named after its way of unwinding: DWARF-2 on 32-bit x86,
# SEH on x86-64.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(libgcc_dll libgcc_s_seh-1.dll)
else()
  set(libgcc_dll libgcc_s_dw2-1.dll)
endif()
set(STATUS_BRIDGE_MINGW_RUNTIME_DLLS)
foreach(dll ${libgcc_dll} libstdc++-6.dll libwinpthread-1.dll)
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE dll_path
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${dll_path}" OR NOT EXISTS "${dll_path}")
    message(FATAL_ERROR "The mingw runtime DLL ${dll} was not found")
  endif()
  get_filename_component(dll_path "${dll_path}" REALPATH)
  list(APPEND STATUS_BRIDGE_MINGW_RUNTIME_DLLS ${dll_path})
endforeach()

set(copied_runtime_dlls)
foreach(dll_path ${STATUS_BRIDGE_MINGW_RUNTIME_DLLS})
  get_filename_component(dll_name ${dll_path} NAME)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/${dll_name}
    COMMAND ${CMAKE_COMMAND} -E copy ${dll_path} ${PROJECT_BINARY_DIR}/${dll_name}
    DEPENDS ${dll_path}
    COMMENT "Copying ${dll_name} beside the programs")
  list(APPEND copied_runtime_dlls ${PROJECT_BINARY_DIR}/${dll_name})
endforeach()
add_custom_target(mingw_runtime_dlls ALL DEPENDS ${copied_runtime_dlls})
