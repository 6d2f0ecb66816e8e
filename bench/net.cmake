# Datagrams per second through the endpoint's listener and the main-thread hand-off, beside a plain
# recvfrom loop; loopback only, so it runs anywhere: <build>/bench/bench_net_throughput [count]
if(TARGET net)
  add_executable(bench_net_throughput ${CMAKE_CURRENT_LIST_DIR}/net_throughput.cpp)
  target_link_libraries(bench_net_throughput PRIVATE net qtadapter Qt6::Core)
endif()
