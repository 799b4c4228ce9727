# GoogleTest, for the unit and end-to-end tests.
if(CMAKE_CROSSCOMPILING)
  # A cross build compiles GoogleTest from its sources with the cross compilers.
  set(STATUS_BRIDGE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
      "GoogleTest sources for a cross build")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${STATUS_BRIDGE_GTEST_SOURCE_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
