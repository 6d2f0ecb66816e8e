# SPDX-License-Identifier: GPL-3.0-or-later
# The readers of the protocol layer, compiled straight into the fuzzer: the protocol library itself is
# not built with -fsanitize=fuzzer. Delay is left out; it has no input to fuzz.
set(PROTOCOL_DIR ${CMAKE_SOURCE_DIR}/protocol)
add_executable(fuzz_protocol
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_protocol.cpp
  ${PROTOCOL_DIR}/HexCodec.cpp
  ${PROTOCOL_DIR}/ConvertError.cpp
  ${PROTOCOL_DIR}/DeviceMessages.cpp
  ${PROTOCOL_DIR}/DeviceConfig.cpp
)
target_include_directories(fuzz_protocol PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(fuzz_protocol PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
                                             -fno-omit-frame-pointer)
target_link_options(fuzz_protocol PRIVATE -fsanitize=fuzzer,address,undefined)
