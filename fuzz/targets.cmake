# The fuzz targets, one file each.
set(MORVANE_FUZZ_TARGETS
  fuzz_list fuzz_decompress fuzz_compress fuzz_tile_decode fuzz_rle_decode fuzz_roundtrip fuzz_tool)
# fuzz_tool runs morvane-tool's info and verify: it needs the tool's build.
if(NOT MORVANE_TOOL)
  list(REMOVE_ITEM MORVANE_FUZZ_TARGETS fuzz_tool)
endif()
