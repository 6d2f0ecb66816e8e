# SPDX-License-Identifier: GPL-3.0-or-later
# The receive handler of a real offscreen window, fed datagram sequences in each of its states. The
# window and the layers under it are compiled for coverage and the sanitizers in this build only, so
# the fuzzer sees inside the handler; Qt itself stays as installed.
if(BUILD_GUI)
  set(KORV_FUZZ_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  foreach(layer app net protocol qtadapter)
    target_compile_options(${layer} PRIVATE ${KORV_FUZZ_FLAGS} -fsanitize=fuzzer-no-link)
    # Whatever links an instrumented layer needs the runtimes too.
    target_link_options(${layer} INTERFACE -fsanitize=address,undefined)
  endforeach()

  add_executable(fuzz_receive ${CMAKE_CURRENT_LIST_DIR}/fuzz_receive.cpp)
  target_link_libraries(fuzz_receive PRIVATE app Qt6::Widgets)
  target_compile_options(fuzz_receive PRIVATE ${KORV_FUZZ_FLAGS} -fsanitize=fuzzer)
  target_link_options(fuzz_receive PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
