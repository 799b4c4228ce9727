# The stand-in vendor libraries of the Windows build, each in a folder of its
# own, never beside status-bridge.exe (a bare-name load searches the program's
# folder first):
#
# standin/status_library-msvc/LMCDLL70.dll      built for the MSVC ABI by clang and
#                                       lld-link, with the vendor's signature;
#                                       answers, logs, crashes, and raises an
#                                       MSVC exception for the throw rules.
#                                       32-bit builds only: the vendor's
#                                       library is a 32-bit one.
# standin/status_library-mingw/LMCDLL70.dll     built by mingw from status_export.cpp;
#                                       its throw rules throw mingw exceptions
#                                       that the bridge can catch.
# standin/status_library-without-export/...     built by mingw, without the export.
#
# Either way the decorated name comes from compiling the vendor's signature
# for the 32-bit MSVC ABI, which needs no 32-bit program to run.

find_program(STANDIN_CLANG NAMES clang clang-14 REQUIRED)
find_program(STANDIN_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_program(STANDIN_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
find_program(STANDIN_LLVM_NM NAMES llvm-nm llvm-nm-14 REQUIRED)

set(msvc_dir ${PROJECT_BINARY_DIR}/standin/status_library-msvc)
set(msvc_work ${CMAKE_CURRENT_BINARY_DIR}/windows/msvc)
set(msvc_dll ${msvc_dir}/LMCDLL70.dll)
set(msvc_flags
  --target=i686-pc-windows-msvc -std=c++17 -O1 -fno-exceptions -fno-rtti
  -ffreestanding -nostdlibinc -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR})

set(msvc_objects)
foreach(source status_export_msvc lmc_rules)
  add_custom_command(
    OUTPUT ${msvc_work}/${source}.obj
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_work}
    COMMAND ${STANDIN_CLANG} ${msvc_flags} -c
            ${PROJECT_SOURCE_DIR}/standin/status_library/${source}.cpp
            -o ${msvc_work}/${source}.obj
    DEPENDS ${PROJECT_SOURCE_DIR}/standin/status_library/${source}.cpp
            ${PROJECT_SOURCE_DIR}/standin/status_library/lmc_rules.h
            ${PROJECT_SOURCE_DIR}/standin/cstring_runtime/standin_cstring.h
    COMMENT "Compiling ${source}.cpp for the MSVC ABI"
    VERBATIM)
  list(APPEND msvc_objects ${msvc_work}/${source}.obj)
endforeach()

# The MSVC-ABI library itself, in 32-bit builds.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_custom_command(
    OUTPUT ${msvc_work}/kernel32.lib
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_work}
    COMMAND ${STANDIN_LLVM_DLLTOOL} -m i386 -k
            -d ${CMAKE_CURRENT_LIST_DIR}/kernel32.def -l ${msvc_work}/kernel32.lib
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/kernel32.def
    COMMENT "Making the kernel32 import library"
    VERBATIM)
  add_custom_command(
    OUTPUT ${msvc_work}/standin_cstring.lib
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_work}
    COMMAND ${STANDIN_LLVM_DLLTOOL} -m i386 -D $<TARGET_FILE_NAME:standin_cstring>
            -d ${CMAKE_CURRENT_LIST_DIR}/standin_cstring.def
            -l ${msvc_work}/standin_cstring.lib
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/standin_cstring.def
    COMMENT "Making the stand-in string runtime's import library"
    VERBATIM)

  add_custom_command(
    OUTPUT ${msvc_dll}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_dir}
    COMMAND ${STANDIN_LLD_LINK} /dll /nodefaultlib /entry:_DllMainCRTStartup
            /implib:${msvc_work}/LMCDLL70.lib /out:${msvc_dll}
            ${msvc_objects} ${msvc_work}/kernel32.lib ${msvc_work}/standin_cstring.lib
    DEPENDS ${msvc_objects} ${msvc_work}/kernel32.lib ${msvc_work}/standin_cstring.lib
    COMMENT "Linking the MSVC-ABI stand-in vendor library"
    VERBATIM)
  add_custom_target(standin_status_library_msvc ALL DEPENDS ${msvc_dll})
  set_property(GLOBAL PROPERTY STATUS_BRIDGE_MSVC_ABI_VENDOR ${msvc_dll})
endif()

# The mingw stand-in exports its function under the decorated name that the
# MSVC-ABI compiler derived above, read from that object file.
set(export_def ${CMAKE_CURRENT_BINARY_DIR}/windows/status_export_alias.def)
add_custom_command(
  OUTPUT ${export_def}
  COMMAND ${CMAKE_COMMAND} -DNM=${STANDIN_LLVM_NM}
          -DOBJECT=${msvc_work}/status_export_msvc.obj -DOUTPUT=${export_def}
          -P ${CMAKE_CURRENT_LIST_DIR}/write_export_def.cmake
  DEPENDS ${msvc_work}/status_export_msvc.obj
          ${CMAKE_CURRENT_LIST_DIR}/write_export_def.cmake
  COMMENT "Writing the mingw stand-in's export definition"
  VERBATIM)
add_custom_target(standin_export_def DEPENDS ${export_def})

add_standin_status_library(standin_status_library_mingw standin/status_library-mingw EXPORT_ALIAS ${export_def})
add_dependencies(standin_status_library_mingw standin_export_def)
add_standin_status_library(standin_status_library_no_export standin/status_library-without-export)

# Doubles for the diagnosis (--diagnose), each a LMCDLL70.dll in a folder of
# its own:
# standin/status_library-with-dependency/     the mingw stand-in, importing
#                                     lmc_helper.dll, which lies beside it:
#                                     found only with that folder on PATH.
# standin/status_library-other-bitness/       a DLL of the other bitness, built by
#                                     clang and lld-link;
# standin/status_library-failing-init/        (below) a DLL whose initialisation
#                                     fails.
set(dependency_dir ${PROJECT_BINARY_DIR}/standin/status_library-with-dependency)
add_library(standin_status_library_helper SHARED windows/dependency_helper.cpp)
set_target_properties(standin_status_library_helper PROPERTIES
  PREFIX "" OUTPUT_NAME lmc_helper RUNTIME_OUTPUT_DIRECTORY ${dependency_dir})
add_standin_status_library(standin_status_library_with_dependency standin/status_library-with-dependency
  EXPORT_ALIAS ${export_def})
add_dependencies(standin_status_library_with_dependency standin_export_def)
target_sources(standin_status_library_with_dependency PRIVATE windows/uses_helper.cpp)
target_link_libraries(standin_status_library_with_dependency PRIVATE
  standin_status_library_helper)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(other_target i686-pc-windows-msvc)
  set(other_machine x86)
else()
  set(other_target x86_64-pc-windows-msvc)
  set(other_machine x64)
endif()
set(other_dir ${PROJECT_BINARY_DIR}/standin/status_library-other-bitness)
set(other_work ${CMAKE_CURRENT_BINARY_DIR}/windows/other-bitness)
add_custom_command(
  OUTPUT ${other_dir}/LMCDLL70.dll
  COMMAND ${CMAKE_COMMAND} -E make_directory ${other_dir} ${other_work}
  COMMAND ${STANDIN_CLANG} --target=${other_target} -O1 -ffreestanding
          -nostdlibinc -c ${CMAKE_CURRENT_LIST_DIR}/other_bitness.cpp
          -o ${other_work}/other_bitness.obj
  COMMAND ${STANDIN_LLD_LINK} /dll /noentry /nodefaultlib
          /machine:${other_machine} /implib:${other_work}/LMCDLL70.lib
          /out:${other_dir}/LMCDLL70.dll ${other_work}/other_bitness.obj
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/other_bitness.cpp
  COMMENT "Linking the stand-in vendor library of the other bitness"
  VERBATIM)
add_custom_target(standin_status_library_other_bitness ALL
  DEPENDS ${other_dir}/LMCDLL70.dll)

# The DLL whose DllMain returns FALSE.
add_library(standin_status_library_failing_init MODULE windows/failing_init.cpp)
target_link_libraries(standin_status_library_failing_init PRIVATE
  status_bridge_warnings)
set_target_properties(standin_status_library_failing_init PROPERTIES
  PREFIX "" SUFFIX "" OUTPUT_NAME LMCDLL70.dll
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/standin/status_library-failing-init)

if(TARGET status_bridge_unit_tests)
  # The exports of these libraries, checked against the bridge's constant;
  # run under Wine. Only 32-bit builds have the MSVC-ABI library.
  get_property(msvc_abi_vendor GLOBAL PROPERTY STATUS_BRIDGE_MSVC_ABI_VENDOR)
  target_sources(status_bridge_unit_tests PRIVATE windows/export_name_test.cpp)
  target_compile_definitions(status_bridge_unit_tests PRIVATE
    STATUS_BRIDGE_MSVC_ABI_VENDOR="$<$<BOOL:${msvc_abi_vendor}>:Z:${msvc_abi_vendor}>"
    STATUS_BRIDGE_MINGW_VENDOR="Z:$<TARGET_FILE:standin_status_library_mingw>")
  add_dependencies(status_bridge_unit_tests standin_status_library_mingw)
  if(msvc_abi_vendor)
    add_dependencies(status_bridge_unit_tests standin_status_library_msvc)
  endif()
endif()
