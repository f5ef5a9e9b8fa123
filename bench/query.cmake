# QueryHtml with the application's expressions against lxml's XPath (Debian
# python3-lxml, run by /usr/bin/python3 in the same process run).
add_executable(query_bench ${CMAKE_CURRENT_LIST_DIR}/query_bench.cpp)
target_compile_options(query_bench PRIVATE ${VARNEL_WARNINGS})
target_link_libraries(query_bench PRIVATE varnel::htmlquery benchmark::benchmark)
