# Prepared INSERT throughput through the unixODBC Driver Manager, side by side
# with another ODBC driver (bench/params_bench.sh sets up both servers).
add_executable(q4_params_bench ${CMAKE_CURRENT_LIST_DIR}/params_bench.cpp)
target_link_libraries(q4_params_bench PRIVATE PkgConfig::ODBC)
