# Link throughput: request/reply round trips over loopback against an echoing
# scripted peer.
if(NOT TARGET q4_scripted_peer)
  # The test suites are off: build the peer from its sources here.
  add_library(q4_scripted_peer STATIC ${CMAKE_SOURCE_DIR}/tests/wire/scripted_peer.cpp)
  target_include_directories(q4_scripted_peer PUBLIC ${CMAKE_SOURCE_DIR}/tests/wire)
  target_link_libraries(q4_scripted_peer PUBLIC q4odbc_static Threads::Threads)
endif()
add_executable(q4_link_bench ${CMAKE_CURRENT_LIST_DIR}/link_bench.cpp)
target_link_libraries(q4_link_bench PRIVATE q4_scripted_peer q4odbc_static)
