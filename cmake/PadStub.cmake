# Pads the installer program with zeros to exactly SIZE bytes, the payload offset, and fails,
# naming both sizes, when the program is larger.
#   cmake -DFILE=install.exe -DSIZE=420352 -P PadStub.cmake
cmake_minimum_required(VERSION 3.20)
file(SIZE "${FILE}" actual)
if(actual GREATER SIZE)
  message(FATAL_ERROR "${FILE} has ${actual} bytes, more than the payload offset ${SIZE}")
endif()
message(STATUS "${FILE}: ${actual} bytes, padded to ${SIZE}")
execute_process(COMMAND truncate -s ${SIZE} "${FILE}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not pad ${FILE} to ${SIZE} bytes")
endif()
