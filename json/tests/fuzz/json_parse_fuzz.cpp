// libFuzzer target for the JSON parser (strict and lenient) and its round trip.
#include <cstdlib>  // abort

#include "json/tests/fuzz/json_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!varnel::fuzz::runJsonFuzzInput(data, size)) std::abort();
  return 0;
}
