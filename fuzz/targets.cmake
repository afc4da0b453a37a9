# The fuzz targets, one file each.
set(MORVANE_FUZZ_TARGETS
  fuzz_list fuzz_decompress fuzz_compress fuzz_tile_decode fuzz_rle_decode fuzz_roundtrip)
