# Link throughput: request/reply round trips over loopback against an echoing
# scripted peer, built here on the library as it ships (the wire tests' copy of
# the peer links the test seams).
add_library(q4_bench_peer STATIC ${CMAKE_SOURCE_DIR}/tests/wire/scripted_peer.cpp)
target_include_directories(q4_bench_peer PUBLIC ${CMAKE_SOURCE_DIR}/tests/wire)
target_link_libraries(q4_bench_peer PUBLIC q4odbc_static Threads::Threads)
add_executable(q4_link_bench ${CMAKE_CURRENT_LIST_DIR}/link_bench.cpp)
target_link_libraries(q4_link_bench PRIVATE q4_bench_peer q4odbc_static)
