# The build's layering rules, in one place.
#
# Every library exposes the headers of its own folder only: they are linked
# into a directory of the build that holds nothing else, and that directory
# is the library's include path. A source file therefore reaches exactly
# the folders of the libraries it links, so an include against the
# architecture (the emulator including server/, say) does not compile.

# varn_expose(<target> <PUBLIC|PRIVATE|INTERFACE> <folder>): the headers
# of <folder> (relative to the project, not its sub-folders, which belong
# to libraries of their own) as <folder>/<name>.h on <target>'s include path.
function(varn_expose target visibility folder)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/${folder})
  # CONFIGURE_DEPENDS: a header added or removed re-runs the configuration.
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  foreach(header ${headers})
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${visibility} ${root})
endfunction()

# The folder of the current CMakeLists.txt, relative to the project.
function(varn_current_folder out)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(folder STREQUAL "")
    set(folder .)
  endif()
  set(${out} ${folder} PARENT_SCOPE)
endfunction()

# add_varn_library(NAME n [FOLDER f] SRCS ... [DEPS ...] [PRIVATE_DEPS ...])
# One component: a static library exposing the headers of FOLDER (default:
# the current folder). DEPS are the libraries its headers use (its users see
# them too); PRIVATE_DEPS those only its sources use.
function(add_varn_library)
  cmake_parse_arguments(A "" "NAME;FOLDER" "SRCS;DEPS;PRIVATE_DEPS" ${ARGN})
  if(NOT A_FOLDER)
    varn_current_folder(A_FOLDER)
  endif()
  add_library(${A_NAME} STATIC ${A_SRCS})
  varn_expose(${A_NAME} PUBLIC ${A_FOLDER})
  target_link_libraries(${A_NAME} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
endfunction()

# add_varn_test(NAME n SRCS ... DEPS ...): a gtest binary registered with
# CTest; it sees the headers of its own folder and of DEPS.
function(add_varn_test)
  cmake_parse_arguments(A "" "NAME" "SRCS;DEPS" ${ARGN})
  add_executable(${A_NAME} ${A_SRCS})
  varn_current_folder(folder)
  varn_expose(${A_NAME} PRIVATE ${folder})
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

# Folders that are planned but not written yet: a listed folder that does
# not exist is skipped only when it is one of these.
set(VARN_PLANNED_FOLDERS)

# varn_add_folders(<folder>...): adds each folder (relative to the current
# one); a folder that does not exist and is not planned is a misspelling.
function(varn_add_folders)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    elseif(NOT dir IN_LIST VARN_PLANNED_FOLDERS)
      varn_current_folder(here)
      message(FATAL_ERROR "${here}/CMakeLists.txt lists \"${dir}\", which has no "
                          "CMakeLists.txt and is not in VARN_PLANNED_FOLDERS "
                          "(cmake/VarnHelpers.cmake)")
    endif()
  endforeach()
endfunction()

# varn_install_man(<file> <section> <component> [DEPENDS <target>...]): a man
# page (troff, built or written) installed gzip -9n'd as
# share/man/man<section>/<name>.gz in the package <component> (varn or
# varn-gui). Pages in ${CMAKE_BINARY_DIR}/man/ that nobody claims this way
# are installed by cmake/VarnPackage.cmake anyway.
function(varn_install_man file section component)
  cmake_parse_arguments(A "" "" "DEPENDS" ${ARGN})
  get_filename_component(name ${file} NAME)
  set(gz ${CMAKE_BINARY_DIR}/man-gz/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man-gz
    COMMAND sh -c "gzip -9nc '${file}' > '${gz}'"
    DEPENDS ${file} ${A_DEPENDS}
    VERBATIM)
  string(MAKE_C_IDENTIFIER "varn_man_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${gz})
  if(A_DEPENDS)
    add_dependencies(${target} ${A_DEPENDS})
  endif()
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  set_property(GLOBAL APPEND PROPERTY VARN_MAN_PAGES ${name})
endfunction()
