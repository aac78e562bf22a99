# One declaration per component: add_varn_library(NAME n SRCS ... DEPS ...)
function(add_varn_library)
  cmake_parse_arguments(A "" "NAME" "SRCS;DEPS" ${ARGN})
  add_library(${A_NAME} STATIC ${A_SRCS})
  target_include_directories(${A_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${A_NAME} PUBLIC ${A_DEPS})
endfunction()

# add_varn_test(NAME n SRCS ... DEPS ...): a gtest binary registered with CTest
function(add_varn_test)
  cmake_parse_arguments(A "" "NAME" "SRCS;DEPS" ${ARGN})
  add_executable(${A_NAME} ${A_SRCS})
  target_link_libraries(${A_NAME} PRIVATE ${A_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${A_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# add_varn_inproc_library(NAME n SRCS ... DEPS ...): an in-process server
# library lib<n>.so (platform/automation/inproc_server.h). It keeps its own
# copy of every static library it links, hidden: the three entry points are
# all it exports, so it never binds to a host's copies of the same code.
function(add_varn_inproc_library)
  cmake_parse_arguments(A "" "NAME" "SRCS;DEPS" ${ARGN})
  add_library(${A_NAME} SHARED ${A_SRCS})
  target_link_libraries(${A_NAME} PRIVATE ${A_DEPS})
  set_target_properties(${A_NAME} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${A_NAME} PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)
endfunction()
