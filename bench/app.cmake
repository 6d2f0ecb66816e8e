# SPDX-License-Identifier: GPL-3.0-or-later
# Scale of one scan: 254 simulated devices answering at once. Run it inside the private LAN:
#   tests/private-lan <build>/bench/bench_scan254
# The simulator is started through the tests' wrapper (tests/support).
if(BUILD_TESTING AND NOT WIN32)
  add_executable(bench_scan254 ${CMAKE_CURRENT_LIST_DIR}/bench_scan254.cpp)
  target_link_libraries(bench_scan254 PRIVATE korv_test_support app Qt6::Widgets Qt6::Test)
endif()

# The same scan at the scale of a /22 segment (254, 1,000 and 1,022 devices), through the window and
# through korvcfg, with the namespace's receive-buffer drops:
#   tests/private-lan <build>/bench/bench_scan_scale [rounds] [count...]
if(BUILD_TESTING AND NOT WIN32)
  add_executable(bench_scan_scale ${CMAKE_CURRENT_LIST_DIR}/bench_scan_scale.cpp
                                  ${PROJECT_SOURCE_DIR}/tests/reliability/NamespaceFigures.cpp)
  target_link_libraries(bench_scan_scale PRIVATE korv_test_support app Qt6::Widgets Qt6::Test)
  target_compile_definitions(bench_scan_scale PRIVATE KORVCFG_PATH="$<TARGET_FILE:korvcfg>")
  add_dependencies(bench_scan_scale korvcfg)
endif()
