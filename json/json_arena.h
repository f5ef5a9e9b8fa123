// JsonArena: bump allocation for what one parse builds (nodes, their texts,
// containers and item arrays).
//
// malloc and free for every node cost more than scanning the text, so a
// parse takes its small objects from 32 KiB chunks instead. Each chunk counts
// the objects still alive in it and goes back to the heap with the last one,
// so a tree's parts can still be freed one by one in any order, from any
// thread, long after the parse; space freed inside a chunk is not reused.
// Objects built later (edits, copies) come from the heap as before, so a
// long-lived, often edited document holds at most its parse's chunks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace varnel::json {

class Arena {
 public:
  // A power of two: an object finds its chunk by masking its address. Small
  // enough that malloc serves the aligned request from its heap rather than
  // mapping fresh pages for every chunk.
  static constexpr std::size_t kChunkBytes = 32 * 1024;
  // Objects above this size are left to the heap (allocate gives nullptr).
  static constexpr std::size_t kMaxObjectBytes = 2048;

  Arena() = default;
  // Lets go of the current chunk; its objects stay valid.
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // 8-byte aligned; nullptr for requests above kMaxObjectBytes. Throws
  // std::bad_alloc when no chunk can be had, like operator new.
  void* allocate(std::size_t bytes) {
    bytes = (bytes + 7) & ~std::size_t{7};
    if (bytes > kMaxObjectBytes) return nullptr;
    if (static_cast<std::size_t>(end_ - cursor_) < bytes) startChunk();
    void* object = cursor_;
    cursor_ += bytes;
    ++allocated_;
    return object;
  }

  // One more owner for an object this arena handed out: each owner frees it
  // once. Lets equal texts (an array of objects repeats its keys) share one copy.
  void* share(void* object) {
    if (object >= static_cast<void*>(chunk_) && object < static_cast<void*>(end_)) {
      ++allocated_;
    } else {
      shareOutside(object);
    }
    return object;
  }

  // Frees one object taken from any arena.
  static void free(void* object) { freeMany(object, 1); }
  // Frees `count` objects of the chunk that holds `object`.
  static void freeMany(void* object, std::int64_t count);

 private:
  struct Chunk;
  void startChunk();
  void releaseChunk();
  static void shareOutside(void* object);

  Chunk* chunk_ = nullptr;
  char* cursor_ = nullptr;
  char* end_ = nullptr;
  std::int64_t allocated_ = 0;  // objects handed out from chunk_
};

// Frees a tree's arena objects with one count update per run of objects
// from the same chunk (a tree freed in order mostly walks chunk by chunk).
class FreeBatch {
 public:
  FreeBatch() = default;
  ~FreeBatch() { flush(); }
  FreeBatch(const FreeBatch&) = delete;
  FreeBatch& operator=(const FreeBatch&) = delete;

  void free(void* object) {
    const auto chunk = reinterpret_cast<std::uintptr_t>(object) & ~(Arena::kChunkBytes - 1);
    if (chunk != chunk_) {
      flush();
      chunk_ = chunk;
    }
    ++count_;
  }
  void flush() {
    if (count_ > 0) Arena::freeMany(reinterpret_cast<void*>(chunk_), count_);
    count_ = 0;
  }

 private:
  std::uintptr_t chunk_ = 0;
  std::int64_t count_ = 0;
};

// Hands the chunks kept for later parses back to the heap (they are kept up
// to json::kArenaCacheBytes, so a run of parses does not fault its memory in
// afresh every time).
void releaseCachedChunks();

}  // namespace varnel::json
