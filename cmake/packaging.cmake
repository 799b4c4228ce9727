# Installation and packages.
#
# Component "bridge": the program and what it needs to run: with MSVC the
# MFC, C++ and compiler runtime DLLs; where the MFC runtime is absent the
# stand-in string runtime, and on mingw its runtime DLLs; and the documents
# with a VERSION file.
# Component "standins": the stand-in vendor libraries and a sample LMC file,
# for testing a flow without the vendor tool.
# Component "client": the Python client as a source tree that
# `pip install <folder>` installs, and its wheel.
#
# Linux:   bin/status-bridge, lib/libstandin_cstring.so,
#          lib/status-bridge/standin/<variant>/LMCDLL70.dll,
#          share/status-bridge/examples/sample.lmc, share/doc/status-bridge/,
#          share/status-bridge/clients/python/
# Windows: everything the program loads beside it, the documents and VERSION,
#          the stand-ins below standin/<variant>/, examples/sample.lmc,
#          clients/python/; `cpack` zips it, the MSVC build as the product
#          and the mingw build as a test kit. Linux has no package: the Linux
#          build is for development, and `cmake --install` serves there.

include(GNUInstallDirs)

if(WIN32)
  set(bridge_dir .)
  set(library_dir .)
  set(standin_dir standin)
  set(examples_dir examples)
  set(client_dir clients/python)
  set(doc_dir .)
else()
  set(bridge_dir ${CMAKE_INSTALL_BINDIR})
  set(library_dir ${CMAKE_INSTALL_LIBDIR})
  set(standin_dir ${CMAKE_INSTALL_LIBDIR}/status-bridge/standin)
  set(examples_dir ${CMAKE_INSTALL_DATADIR}/status-bridge/examples)
  set(client_dir ${CMAKE_INSTALL_DATADIR}/status-bridge/clients/python)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/status-bridge)
endif()

install(TARGETS status-bridge RUNTIME DESTINATION ${bridge_dir} COMPONENT bridge)
if(NOT MSVC)
  install(TARGETS standin_cstring
    RUNTIME DESTINATION ${bridge_dir} COMPONENT bridge
    LIBRARY DESTINATION ${library_dir} COMPONENT bridge NAMELINK_SKIP)
endif()
if(MINGW)
  install(FILES ${STATUS_BRIDGE_MINGW_RUNTIME_DLLS}
    DESTINATION ${bridge_dir} COMPONENT bridge)
endif()
if(MSVC)
  # The runtime DLLs that the program imports, from the Visual Studio
  # installation that builds it: the multi-byte MFC (mfc140.dll), the C++
  # library and the compiler's runtime. InstallRequiredSystemLibraries lists
  # more (the Unicode MFC, MFC's mfcm140 DLLs and language DLLs, concrt140),
  # which nothing here loads, so its list is cut down to these three.
  set(CMAKE_INSTALL_MFC_LIBRARIES ON)
  set(CMAKE_INSTALL_SYSTEM_RUNTIME_LIBS_SKIP ON)
  include(InstallRequiredSystemLibraries)
  set(runtime_dlls)
  foreach(dll ${CMAKE_INSTALL_SYSTEM_RUNTIME_LIBS})
    get_filename_component(name ${dll} NAME)
    string(TOLOWER ${name} name)
    if(name MATCHES "^(mfc140|msvcp140|vcruntime140)\\.dll$")
      list(APPEND runtime_dlls ${dll})
    endif()
  endforeach()
  list(LENGTH runtime_dlls runtime_count)
  if(NOT runtime_count EQUAL 3)
    message(FATAL_ERROR "The kit needs mfc140.dll, msvcp140.dll and "
      "vcruntime140.dll from Visual Studio's redistributable folder; found: "
      "${runtime_dlls}. Install the C++ MFC component for x86.")
  endif()
  install(PROGRAMS ${runtime_dlls} DESTINATION ${bridge_dir} COMPONENT bridge)
endif()
# The version, one line, so that an unpacked kit says which one it is.
file(CONFIGURE OUTPUT VERSION CONTENT "@PROJECT_VERSION@\n" @ONLY)
install(FILES README.md ARCHITECTURE.md CHANGELOG.md
  ${PROJECT_BINARY_DIR}/VERSION DESTINATION ${doc_dir} COMPONENT bridge)
# The pages the front page links to for users, in the folder its links name.
install(FILES docs/manual.md docs/windows.md DESTINATION ${doc_dir}/docs
  COMPONENT bridge)

# The stand-in vendor libraries, each in the folder of its own it has in the
# build; installed by the folder they were built in.
if(NOT MSVC)
  if(WIN32)
    set(standin_variants status_library-msvc status_library-mingw status_library-without-export)
  else()
    set(standin_variants status_library status_library-without-export)
  endif()
  foreach(variant ${standin_variants})
    install(FILES ${PROJECT_BINARY_DIR}/standin/${variant}/LMCDLL70.dll
      DESTINATION ${standin_dir}/${variant} COMPONENT standins)
  endforeach()
  install(FILES examples/sample.lmc DESTINATION ${examples_dir}
    COMPONENT standins)
endif()

set(client_modules __init__ client errors pool process wire)
list(TRANSFORM client_modules PREPEND
  ${PROJECT_SOURCE_DIR}/clients/python/status_bridge_client/)
list(TRANSFORM client_modules APPEND .py)
install(FILES clients/python/pyproject.toml clients/python/README.md
  DESTINATION ${client_dir} COMPONENT client)
install(FILES ${client_modules} clients/python/status_bridge_client/py.typed
  DESTINATION ${client_dir}/status_bridge_client COMPONENT client)

# The client's wheel, beside its source, made by flit_core (on Debian, from
# the flit package), which writes nothing into the source folder. Any
# python3 that imports flit_core will do; STATUS_BRIDGE_WHEEL_PYTHON names
# one.
set(STATUS_BRIDGE_WHEEL_PYTHON "" CACHE STRING
  "Python with flit_core, to build the Python client's wheel")
if(NOT STATUS_BRIDGE_WHEEL_PYTHON)
  foreach(candidate python3 /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import flit_core.wheel"
      RESULT_VARIABLE no_flit OUTPUT_QUIET ERROR_QUIET)
    if(no_flit EQUAL 0)
      set(STATUS_BRIDGE_WHEEL_PYTHON ${candidate} CACHE STRING
        "Python with flit_core, to build the Python client's wheel" FORCE)
      break()
    endif()
  endforeach()
endif()
if(STATUS_BRIDGE_WHEEL_PYTHON)
  file(STRINGS clients/python/status_bridge_client/__init__.py client_version
    REGEX "^__version__ = ")
  string(REGEX REPLACE "^__version__ = \"(.*)\"$" "\\1" client_version
    "${client_version}")
  set(client_wheel ${PROJECT_BINARY_DIR}/clients/python/status_bridge_client-${client_version}-py3-none-any.whl)
  add_custom_command(OUTPUT ${client_wheel}
    COMMAND ${STATUS_BRIDGE_WHEEL_PYTHON} -m flit_core.wheel
      --outdir ${PROJECT_BINARY_DIR}/clients/python
      ${PROJECT_SOURCE_DIR}/clients/python
    DEPENDS ${client_modules} clients/python/pyproject.toml
      clients/python/README.md
    COMMENT "Building the Python client's wheel" VERBATIM)
  add_custom_target(python_client_wheel ALL DEPENDS ${client_wheel})
  install(FILES ${client_wheel} DESTINATION ${client_dir} COMPONENT client)
else()
  message(WARNING "No python3 imports flit_core (Debian: the flit package): "
    "the Python client's wheel is not built")
endif()

if(WIN32)
  set(CPACK_PACKAGE_NAME status-bridge)
  set(CPACK_PACKAGE_VENDOR "status-bridge developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Line protocol bridge to the vendor's block status export")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # The MSVC build is the product; the mingw build is a kit for testing.
  if(MSVC)
    set(CPACK_PACKAGE_FILE_NAME status-bridge-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME status-bridge-${PROJECT_VERSION}-win32-testkit)
  endif()
  include(CPack)
endif()
