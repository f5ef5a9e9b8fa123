#include "json/json_arena.h"

#include <cstdint>
#include <cstdlib>  // aligned_alloc, free
#include <mutex>
#include <new>  // bad_alloc
#include <vector>

#include "json/json_constants.h"

namespace varnel::json {
namespace {

constexpr std::size_t kChunkBytes = Arena::kChunkBytes;
// Held on the live count while the arena still hands out objects from the
// chunk, so frees meanwhile cannot bring it to zero.
constexpr std::int64_t kHold = std::int64_t{1} << 40;

// Chunks whose objects have all gone wait here for the next parse. Handing a
// whole tree's chunks back to malloc lets it trim the heap, and the next
// parse then pays a page fault for every 4 KiB it touches, which costs more
// than the parse itself.
class ChunkCache {
 public:
  void* take() {
    {
      std::lock_guard lock(mutex_);
      if (!chunks_.empty()) {
        void* chunk = chunks_.back();
        chunks_.pop_back();
        return chunk;
      }
    }
    return std::aligned_alloc(kChunkBytes, kChunkBytes);
  }
  void releaseAll() {
    std::vector<void*> chunks;
    {
      std::lock_guard lock(mutex_);
      chunks.swap(chunks_);
    }
    for (void* chunk : chunks) std::free(chunk);
  }
  void give(void* chunk) {
    {
      std::lock_guard lock(mutex_);
      if (chunks_.size() < kMaxCached) {
        chunks_.push_back(chunk);
        return;
      }
    }
    std::free(chunk);
  }

 private:
  static constexpr std::size_t kMaxCached = json::kArenaCacheBytes / kChunkBytes;
  std::mutex mutex_;
  std::vector<void*> chunks_;
};

ChunkCache& chunkCache() {
  static ChunkCache* cache = new ChunkCache;  // never destroyed: trees may outlive statics
  return *cache;
}

}  // namespace

struct alignas(16) Arena::Chunk {
  std::atomic<std::int64_t> live{kHold};
};

Arena::~Arena() { releaseChunk(); }

void Arena::startChunk() {
  releaseChunk();
  void* memory = chunkCache().take();
  if (!memory) throw std::bad_alloc();
  chunk_ = new (memory) Chunk;
  cursor_ = static_cast<char*>(memory) + sizeof(Chunk);
  end_ = static_cast<char*>(memory) + kChunkBytes;
  allocated_ = 0;
}

void Arena::releaseChunk() {
  if (!chunk_) return;
  const std::int64_t unheld = kHold - allocated_;
  if (chunk_->live.fetch_sub(unheld, std::memory_order_acq_rel) == unheld) {
    chunk_->~Chunk();
    chunkCache().give(chunk_);
  }
  chunk_ = nullptr;
  cursor_ = end_ = nullptr;
}

void Arena::shareOutside(void* object) {
  auto* chunk = reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(object) &
                                         ~std::uintptr_t{kChunkBytes - 1});
  chunk->live.fetch_add(1, std::memory_order_relaxed);
}

void Arena::freeMany(void* object, std::int64_t count) {
  auto* chunk = reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(object) &
                                         ~std::uintptr_t{kChunkBytes - 1});
  if (chunk->live.fetch_sub(count, std::memory_order_acq_rel) == count) {
    chunk->~Chunk();
    chunkCache().give(chunk);
  }
}

void releaseCachedChunks() { chunkCache().releaseAll(); }

}  // namespace varnel::json
