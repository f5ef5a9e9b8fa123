# pdf_bench: a 300-page book as one PDF, writeBookPdf against img2pdf in the
# same run (time, size, peak memory). The pages are made with libjpeg by the
# same helper the pdf tests use.
find_package(qpdf REQUIRED CONFIG)
find_package(JPEG REQUIRED)
find_program(PDF_BENCH_IMG2PDF img2pdf REQUIRED)
add_executable(pdf_bench ${CMAKE_CURRENT_LIST_DIR}/pdf_bench.cpp
  ${PROJECT_SOURCE_DIR}/pdf/tests/test_jpegs.cpp)
target_compile_options(pdf_bench PRIVATE ${VARNEL_WARNINGS})
target_link_libraries(pdf_bench PRIVATE varnel::pdf qpdf::libqpdf JPEG::JPEG)
target_compile_definitions(pdf_bench PRIVATE POINTERHOLDER_TRANSITION=4
  PDF_BENCH_IMG2PDF="${PDF_BENCH_IMG2PDF}")
