# qm_library(<target> [DEPS <libs>...]): a static library of every .cpp in the current folder
# (not its subfolders, which are libraries of their own); *_avx2.cpp only where QM_HAVE_AVX2.
function(qm_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT QM_HAVE_AVX2)
    list(FILTER sources EXCLUDE REGEX "_avx2\\.cpp$")
  endif()
  add_library(${target} STATIC ${sources})
  if(ARG_DEPS)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# qm_test(<target> [DEPS <libs>...]): one GoogleTest program of every .cpp in the current folder.
function(qm_test target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
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
