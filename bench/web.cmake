# web_bench: 2,000 pages of 100 KB from a local server, 8 at a time, by
# webRequest and by the curl and aria2c command-line tools in the same run.
find_package(PkgConfig REQUIRED)
# A prefix of its own: the web tests' pkg-config result lives in another directory.
pkg_check_modules(WEB_BENCH_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_program(WEB_BENCH_CURL curl REQUIRED)
find_program(WEB_BENCH_ARIA2C aria2c REQUIRED)

add_executable(web_bench ${CMAKE_CURRENT_LIST_DIR}/web_bench.cpp)
target_compile_options(web_bench PRIVATE ${VARNEL_WARNINGS})
target_link_libraries(web_bench PRIVATE varnel::web benchmark::benchmark
  PkgConfig::WEB_BENCH_HTTPLIB Threads::Threads)
target_compile_definitions(web_bench PRIVATE
  WEB_BENCH_CURL="${WEB_BENCH_CURL}" WEB_BENCH_ARIA2C="${WEB_BENCH_ARIA2C}")
