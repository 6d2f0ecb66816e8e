# Scale of one scan: 254 simulated devices answering at once. Run it inside the private LAN:
#   tests/private-lan <build>/bench/bench_scan254
if(TARGET devsim AND TARGET app)
  add_executable(bench_scan254
    ${CMAKE_CURRENT_LIST_DIR}/bench_scan254.cpp
    ${CMAKE_SOURCE_DIR}/tests/e2e/DevSimProcess.cpp)
  target_include_directories(bench_scan254 PRIVATE ${CMAKE_SOURCE_DIR}/tests/e2e)
  target_link_libraries(bench_scan254 PRIVATE app net protocol Qt6::Widgets Qt6::Test)
  target_compile_definitions(bench_scan254 PRIVATE DEVSIM_PATH="$<TARGET_FILE:devsim>")
  add_dependencies(bench_scan254 devsim)
endif()
