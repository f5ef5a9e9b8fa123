# RegexObject against Boost.Regex straight over GBK bytes and std::regex.
find_package(Boost REQUIRED COMPONENTS regex)
add_executable(regex_bench ${CMAKE_CURRENT_LIST_DIR}/regex_bench.cpp)
target_compile_options(regex_bench PRIVATE ${VARNEL_WARNINGS})
target_link_libraries(regex_bench PRIVATE varnel::regex Boost::regex benchmark::benchmark)
