# Prepared INSERT throughput through the unixODBC Driver Manager, side by side
# with PostgreSQL's ODBC driver. It needs both servers and their data sources,
# so bench/params_bench.sh runs it rather than run_benchmarks.
add_executable(q4_params_bench ${CMAKE_CURRENT_LIST_DIR}/params_bench.cpp)
target_link_libraries(q4_params_bench PRIVATE PkgConfig::ODBC)
add_dependencies(q4_params_bench q4odbc)
if(TARGET q4lite)
  add_dependencies(q4_params_bench q4lite)
endif()
