# WorkerPool against tbb::task_group and one std::thread per job, in back-to-back rounds.
find_package(TBB REQUIRED)
add_executable(pool_bench ${CMAKE_CURRENT_LIST_DIR}/pool_bench.cpp)
target_compile_options(pool_bench PRIVATE ${VARNEL_WARNINGS})
target_link_libraries(pool_bench PRIVATE varnel::pool TBB::tbb Threads::Threads)
