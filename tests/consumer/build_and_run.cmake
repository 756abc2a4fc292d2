# Installs the built library into a prefix, builds the consumer project against it, runs
# it, and fails if the program needs the widget or GUI libraries.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${SOURCE_BUILD} --prefix ${WORK}/prefix
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE}/tests/consumer -B ${WORK}/build
                -DCMAKE_PREFIX_PATH=${WORK}/prefix -DCMAKE_CXX_COMPILER=${CXX}
                "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "build failed")
endif()
execute_process(COMMAND ${WORK}/build/core_consumer RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the consumer's answers are wrong")
endif()
execute_process(COMMAND readelf -d ${WORK}/build/core_consumer OUTPUT_VARIABLE needed)
message(STATUS "${needed}")
if(needed MATCHES "Qt6Widgets|Qt6Gui|libxcb")
  message(FATAL_ERROR "the library core pulled in the user interface")
endif()
