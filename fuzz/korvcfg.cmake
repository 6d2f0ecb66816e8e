# SPDX-License-Identifier: GPL-3.0-or-later
# korvcfg's apply-table reader (CSV and JSON, and the value parsers behind them), compiled straight
# into the fuzzer with the JSON library's parser; the protocol and net libraries it rests on are linked
# as built.
set(KORVCFG_DIR ${CMAKE_SOURCE_DIR}/tools/korvcfg)
add_executable(fuzz_apply
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_apply.cpp
  ${KORVCFG_DIR}/ApplyFile.cpp
  ${KORVCFG_DIR}/Values.cpp
)
target_include_directories(fuzz_apply PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(fuzz_apply PRIVATE protocol net nlohmann_json::nlohmann_json)
target_compile_options(fuzz_apply PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
                                          -fno-omit-frame-pointer)
target_link_options(fuzz_apply PRIVATE -fsanitize=fuzzer,address,undefined)
set_target_properties(fuzz_apply PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
