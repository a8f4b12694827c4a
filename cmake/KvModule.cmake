# kv_module(NAME DIR LIBS...): a static library of every .cpp below the folder, or an
# interface library while the folder has only headers. Include paths are the project root,
# so code includes "media/Dispatcher.h" and the like.
function(kv_module name)
  cmake_parse_arguments(KV "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB_RECURSE hdrs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(srcs)
    add_library(${name} STATIC ${srcs} ${hdrs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${KV_LIBS} PRIVATE kv_warnings)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${KV_LIBS})
  endif()
endfunction()

# kv_test(NAME LIBS...): one test executable from every .cpp in the folder, its cases
# registered with CTest one by one. GUI and media tests run headless.
function(kv_test name)
  cmake_parse_arguments(KV "" "TIMEOUT" "LIBS" ${ARGN})
  if(NOT KV_TIMEOUT)
    set(KV_TIMEOUT 300)
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${KV_LIBS} kv_testsupport kv_warnings)
  # Folders and headless settings reach the tests through compiled-in defaults
  # (tests/support), so a test runs the same from CTest, a shell or a debugger.
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT ${KV_TIMEOUT})
endfunction()
