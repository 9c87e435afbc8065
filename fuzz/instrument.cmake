# Included by the top-level CMakeLists.txt, before any target is defined,
# when LENSTROVE_BUILD_FUZZ is on: every piece of project code (the module,
# the host library, the command's library) is compiled with coverage
# counters for libFuzzer and with AddressSanitizer and
# UndefinedBehaviorSanitizer, so a fault anywhere stops the run.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "LENSTROVE_BUILD_FUZZ needs clang (libFuzzer): configure with "
                      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()

# Read by plugin/CMakeLists.txt: the module takes the sanitizer and fuzzer
# runtimes from the executable that loads it, so it may not be linked with
# --no-undefined or a static C++ runtime.
set(LENSTROVE_FUZZ_INSTRUMENT ON)

add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined)
