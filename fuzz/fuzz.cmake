# libFuzzer targets, one per input the program takes from outside: the command line, list files
# and the path text built from both. Configured in a build directory of their own with clang++:
#
#   CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DTREECOPY_FUZZ=ON -DTREECOPY_TESTS=OFF
#
# fuzz/run.sh does that and runs them.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "TREECOPY_FUZZ needs clang++ with libFuzzer (configure with CXX=clang++)")
endif()

foreach(target parser pathtext listfile)
  add_executable(fuzz_${target} ${CMAKE_SOURCE_DIR}/fuzz/${target}_fuzz.cpp)
  target_link_libraries(fuzz_${target} PRIVATE treecopy_core)
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
endforeach()
