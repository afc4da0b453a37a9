# SPDX-License-Identifier: MIT
# cmake -DNM=<nm> -DPROGRAM=<file> -P check_decode_only.cmake
# Fails when the decode-only program holds or calls anything of the encoder
# (its staging buffer, LZ4 HC), any printing routine or anything of the C++
# runtime (a C++ symbol, exception support, libstdc++'s versions).
execute_process(COMMAND ${NM} ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} ${PROGRAM} failed")
endif()
foreach(call morvane_tile_decode_shared morvane_tile_decode morvane_pack_find)
  if(NOT symbols MATCHES "${call}")
    message(FATAL_ERROR "nm shows no ${call} in ${PROGRAM}")
  endif()
endforeach()
string(REGEX MATCHALL "[^\n]*(g_staging|encode_tile_image|lz4_hc_compress|g_hc_state|LZ4_[A-Za-z_]*HC|printf|puts|putchar|fwrite| _Z|__cxa_(allocate|throw|begin|end|guard|pure|rethrow)|__gxx_|GLIBCXX|CXXABI)[^\n]*"
       found "${symbols}")
if(found)
  string(REPLACE ";" "\n" found "${found}")
  message(FATAL_ERROR "a decode-only program pulls in:\n${found}")
endif()
