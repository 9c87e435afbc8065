# What each fuzz input function needs, shared by the libFuzzer targets and
# the corpus replay: the module harnesses load the built module through the
# host library; the image-file harness reads through the command's code.
function(lenstrove_link_fuzz_harness target kind)
  if(kind STREQUAL "image_file")
    target_link_libraries(${target} PRIVATE lenstrove_cli_core)
  else()
    target_link_libraries(${target} PRIVATE lenstrove_host)
    target_compile_definitions(${target} PRIVATE LENSTROVE_FUZZ_MODULE_PATH="$<TARGET_FILE:QelLenstrove>")
    add_dependencies(${target} QelLenstrove)
  endif()
endfunction()
