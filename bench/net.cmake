# SPDX-License-Identifier: GPL-3.0-or-later
# Datagrams per second through the endpoint's listener and the main-thread hand-off, beside a plain
# recvfrom loop; loopback only, so it runs anywhere: <build>/bench/bench_net_throughput [count]
# (Windows: tests/wine-lan build-win/bench/bench_net_throughput.exe [count] runs it under Wine.)
add_executable(bench_net_throughput ${CMAKE_CURRENT_LIST_DIR}/net_throughput.cpp)
target_link_libraries(bench_net_throughput PRIVATE net)
if(WIN32)
  target_link_libraries(bench_net_throughput PRIVATE ws2_32) # the plain loop and the sender only
endif()

# Cost of a broadcast that leaves through every adapter, with 1, 2 and 8 veth adapters in namespaces it
# makes itself: tests/netns-run <build>/bench/bench_broadcast_adapters [sends]
if(UNIX)
  add_executable(bench_broadcast_adapters ${CMAKE_CURRENT_LIST_DIR}/broadcast_adapters.cpp)
  target_link_libraries(bench_broadcast_adapters PRIVATE net)
endif()
