# SPDX-License-Identifier: MIT
# The fuzz targets, one file each.
set(MORVANE_FUZZ_TARGETS
  fuzz_list fuzz_decompress fuzz_compress fuzz_tile_decode fuzz_rle_decode fuzz_roundtrip fuzz_pack_read
  fuzz_tool fuzz_tool_files fuzz_export_formats fuzz_report)
# fuzz_tool runs morvane-tool's info and verify, fuzz_tool_files its file
# readers, fuzz_export_formats export's pairing of a pack with the manifest
# given to --formats, fuzz_report the records of report's page: they need
# the tool's build.
if(NOT MORVANE_TOOL)
  list(REMOVE_ITEM MORVANE_FUZZ_TARGETS fuzz_tool fuzz_tool_files fuzz_export_formats fuzz_report)
endif()
