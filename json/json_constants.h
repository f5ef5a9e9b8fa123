// Numbers and texts the JSON library depends on, in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varnel::json {

// Containers.
constexpr std::int32_t kDefaultListCapacity = 8;
constexpr std::int32_t kDefaultBucketCount = 11;
constexpr float kDefaultLoadFactor = 0.75f;
constexpr float kMinLoadFactor = 0.0000001f;
constexpr std::uint32_t kKeyHashMultiplier = 31;

// Parser: free arena chunks kept for the next parse (see json_arena.cpp); the
// process holds at most this much beyond its live trees.
constexpr std::size_t kArenaCacheBytes = std::size_t{64} << 20;

// Load: an ASCII document is widened into a per-thread buffer, kept between
// calls up to this many code units (16 MiB).
constexpr std::size_t kKeptLoadUnits = std::size_t{8} << 20;

// Parser: containers may nest this deep; one more is error -3.
constexpr std::int32_t kMaxNestingDepth = 1024;

// Path indexes and copies never pad an array beyond this many elements.
constexpr std::int64_t kMaxPaddedElements = std::int64_t{1} << 24;

// Writer.
// Floats are written as printf "%.13g" writes them.
constexpr int kFloatSignificantDigits = 13;
constexpr std::int32_t kBuilderInitialBytes = 12;
// 64 KiB blocks each thread keeps for the next text it writes (8 MiB at most).
constexpr std::size_t kWriterKeptBlocks = 128;
constexpr std::u16string_view kNullText = u"null";
constexpr std::u16string_view kTrueText = u"true";
constexpr std::u16string_view kFalseText = u"false";
constexpr std::u16string_view kLineBreak = u"\r\n";
constexpr char16_t kIndentUnit = u'\t';

}  // namespace varnel::json
