# The .cpp files of the current folder and of each listed subfolder (a library's own folder).
function(qm_sources out)
  set(patterns ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(dir ${ARGN})
    list(APPEND patterns ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${patterns})
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# qm_library(<target> [SUBDIRS <dirs>...] [DEPS <libs>...]): a static library of every .cpp in
# the current folder and the listed subfolders (other subfolders are libraries of their own);
# *_avx2.cpp only where QM_HAVE_AVX2.
function(qm_library target)
  cmake_parse_arguments(ARG "" "" "SUBDIRS;DEPS" ${ARGN})
  qm_sources(sources ${ARG_SUBDIRS})
  if(NOT QM_HAVE_AVX2)
    list(FILTER sources EXCLUDE REGEX "_avx2\\.cpp$")
  endif()
  add_library(${target} STATIC ${sources})
  if(ARG_DEPS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# qm_test(<target> [SUBDIRS <dirs>...] [DEPS <libs>...]): one GoogleTest program of every .cpp
# in the current folder and the listed subfolders; all run in the current folder.
function(qm_test target)
  cmake_parse_arguments(ARG "" "" "SUBDIRS;DEPS" ${ARGN})
  qm_sources(sources ${ARG_SUBDIRS})
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
