# HtmlDocument load and serialisation against lxml (Debian python3-lxml, run
# by /usr/bin/python3 in the same process run).
add_executable(dom_bench ${CMAKE_CURRENT_LIST_DIR}/dom_bench.cpp)
target_compile_options(dom_bench PRIVATE ${VARNEL_WARNINGS})
target_link_libraries(dom_bench PRIVATE varnel::htmlquery benchmark::benchmark)
target_compile_definitions(dom_bench PRIVATE VARNEL_SYSTEM_PYTHON="/usr/bin/python3")
