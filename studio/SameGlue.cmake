# Fails unless the SIMD module's glue (SIMD) is the plain module's (PLAIN) but for the name of
# its .wasm: the page loads either module through the plain one's glue.
file(READ "${PLAIN}" plain)
file(READ "${SIMD}" simd)
string(REPLACE "saverpack-core-simd.wasm" "saverpack-core.wasm" simd "${simd}")
if(NOT plain STREQUAL simd)
  message(FATAL_ERROR "${SIMD} differs from ${PLAIN}: the two modules no longer take the same glue")
endif()
