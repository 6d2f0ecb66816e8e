# SPDX-License-Identifier: GPL-3.0-or-later
# A table of simulated devices applied by korvcfg one after another and 16 at a time. Run it inside
# the private LAN: tests/private-lan <build>/bench/bench_apply [devices] [answer delay ms]
if(BUILD_TESTING AND NOT WIN32)
  add_executable(bench_apply ${CMAKE_CURRENT_LIST_DIR}/bench_apply.cpp)
  target_link_libraries(bench_apply PRIVATE korv_test_support)
  target_compile_definitions(bench_apply PRIVATE KORVCFG_PATH="$<TARGET_FILE:korvcfg>")
  add_dependencies(bench_apply korvcfg devsim)
endif()
