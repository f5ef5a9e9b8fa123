# JsonValue parse and write against RapidJSON and nlohmann::json (Debian
# rapidjson-dev, nlohmann-json3-dev) on generated documents.
find_package(RapidJSON REQUIRED)
find_package(nlohmann_json REQUIRED)
add_executable(json_bench ${CMAKE_CURRENT_LIST_DIR}/json_bench.cpp)
target_compile_options(json_bench PRIVATE ${VARNEL_WARNINGS})
target_include_directories(json_bench PRIVATE ${RapidJSON_INCLUDE_DIRS} ${RAPIDJSON_INCLUDE_DIRS})
target_link_libraries(json_bench PRIVATE varnel::json nlohmann_json::nlohmann_json
  benchmark::benchmark)
