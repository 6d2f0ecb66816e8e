# SPDX-License-Identifier: GPL-3.0-or-later
# A table of simulated devices applied by korvcfg one after another and 16 at a time, and scans of
# devices one router away by a --to sweep against the broadcast scan. Run them inside the private LAN:
#   tests/private-lan <build>/bench/bench_apply [devices] [answer delay ms]
#   tests/private-lan --routed <build>/bench/bench_scan_to [devices]
if(BUILD_TESTING AND NOT WIN32)
  add_executable(bench_apply ${CMAKE_CURRENT_LIST_DIR}/bench_apply.cpp)
  target_link_libraries(bench_apply PRIVATE korv_test_support)
  target_compile_definitions(bench_apply PRIVATE KORVCFG_PATH="$<TARGET_FILE:korvcfg>")
  add_dependencies(bench_apply korvcfg devsim)
  add_executable(bench_scan_to ${CMAKE_CURRENT_LIST_DIR}/bench_scan_to.cpp)
  target_link_libraries(bench_scan_to PRIVATE korv_test_support)
  target_compile_definitions(bench_scan_to PRIVATE KORVCFG_PATH="$<TARGET_FILE:korvcfg>")
  add_dependencies(bench_scan_to korvcfg devsim)
endif()
