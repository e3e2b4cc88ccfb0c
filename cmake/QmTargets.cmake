# qm_library(<target> [DEPS <libs>...] [SUBDIRS <dirs>...]): a static library of every .cpp in
# the current folder and in the subfolders listed (other subfolders are libraries of their own).
function(qm_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;SUBDIRS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(dir ${ARG_SUBDIRS})
    file(GLOB more CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${more})
  endforeach()
  add_library(${target} STATIC ${sources})
  if(ARG_DEPS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# qm_test(<target> [DEPS <libs>...] [SUBDIRS <dirs>...]): one GoogleTest program of every .cpp
# in the current folder and in the subfolders listed.
function(qm_test target)
  cmake_parse_arguments(ARG "" "" "DEPS;SUBDIRS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(dir ${ARG_SUBDIRS})
    file(GLOB more CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${more})
  endforeach()
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  # g++ 12 misreads std::string concatenation in optimised test code as an out-of-bounds
  # copy (at compile and at link-time optimisation); the tests' strings are ordinary.
  target_compile_options(${target} PRIVATE -Wno-stringop-overflow -Wno-stringop-overread)
  target_link_options(${target} PRIVATE -Wno-stringop-overflow -Wno-stringop-overread)
  target_compile_definitions(${target} PRIVATE
    QM_SOURCE_DIR="${CMAKE_SOURCE_DIR}" QM_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()
