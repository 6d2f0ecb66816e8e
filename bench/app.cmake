# SPDX-License-Identifier: GPL-3.0-or-later
# Scale of one scan: 254 simulated devices answering at once. Run it inside the private LAN:
#   tests/private-lan <build>/bench/bench_scan254
# The simulator is started through the tests' wrapper (tests/support).
if(BUILD_TESTING AND NOT WIN32)
  add_executable(bench_scan254 ${CMAKE_CURRENT_LIST_DIR}/bench_scan254.cpp)
  target_link_libraries(bench_scan254 PRIVATE korv_test_support app Qt6::Widgets Qt6::Test)
endif()
