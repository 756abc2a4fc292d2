# Included by the top CMakeLists.txt before any target: with QUARNELL_FUZZ on and clang as
# the compiler, every library of the tree is built with coverage for libFuzzer and with
# AddressSanitizer and UBSan, so the fuzzers see inside the code they drive. Without clang
# the option falls back to the replay programs that every build has.
set(QUARNELL_FUZZING OFF)
if(QUARNELL_FUZZ)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(QUARNELL_FUZZING ON)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  else()
    message(WARNING "QUARNELL_FUZZ needs clang (CMAKE_CXX_COMPILER=clang++); "
                    "the fuzz targets are built as corpus replay programs instead")
  endif()
endif()
