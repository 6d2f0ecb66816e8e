# SPDX-License-Identifier: GPL-3.0-or-later
add_executable(bench_delay ${CMAKE_CURRENT_LIST_DIR}/bench_delay.cpp)
target_link_libraries(bench_delay PRIVATE qtadapter Qt6::Core)
