# Fails, naming both sizes, when a file is larger than its budget.
#   cmake -DFILE=impborl.dll -DSIZE=12288 -P CheckSize.cmake
cmake_minimum_required(VERSION 3.20)
file(SIZE "${FILE}" actual)
if(actual GREATER SIZE)
  message(FATAL_ERROR "${FILE} has ${actual} bytes, more than its budget of ${SIZE}")
endif()
message(STATUS "${FILE}: ${actual} bytes of ${SIZE}")
