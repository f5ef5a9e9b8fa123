# Reading and writing conf.ini (read afresh at every use)
# against QSettings doing the same.
find_package(Qt6 REQUIRED COMPONENTS Core)
add_executable(app_bench ${CMAKE_CURRENT_LIST_DIR}/app_bench.cpp)
target_compile_options(app_bench PRIVATE ${VARNEL_WARNINGS})
target_link_libraries(app_bench PRIVATE varnel::app_core Qt6::Core benchmark::benchmark)
