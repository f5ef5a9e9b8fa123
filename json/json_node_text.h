// NodeText: the UTF-16 texts a node owns (key, literal, string content).
//
// Texts of up to four units (short keys and numbers) live inside the node;
// longer ones are copied to the parse's arena when there is one, else to the
// heap. A text can also borrow a constant ("null", "true", "false") instead
// of copying it. Sixteen bytes, since every node holds two.
#pragma once

#include <cstdint>
#include <cstring>  // memcpy
#include <string_view>

#include "json/json_arena.h"

namespace varnel {

class NodeText {
 public:
  static constexpr std::uint32_t kInlineUnits = 4;

  NodeText() = default;
  explicit NodeText(std::u16string_view text, json::Arena* arena = nullptr) { assign(text, arena); }
  NodeText(const NodeText&) = delete;
  NodeText& operator=(const NodeText&) = delete;
  NodeText(NodeText&& other) noexcept { take(other); }
  NodeText& operator=(NodeText&& other) noexcept {
    if (this != &other) {
      reset();
      take(other);
    }
    return *this;
  }
  ~NodeText() { reset(); }

  // A copy of `text`; an empty view still makes a (present) text.
  void assign(std::u16string_view text, json::Arena* arena = nullptr) {
    reset();
    size_ = static_cast<std::uint32_t>(text.size());
    if (size_ <= kInlineUnits) {
      if (size_) std::memcpy(storage_.units, text.data(), size_ * sizeof(char16_t));
      mode_ = Mode::kInline;
      return;
    }
    const std::size_t bytes = (std::size_t{size_} + 1) * sizeof(char16_t);
    char16_t* copy = nullptr;
    if (arena) copy = static_cast<char16_t*>(arena->allocate(bytes));
    mode_ = copy ? Mode::kArena : Mode::kOwned;
    if (!copy) copy = new char16_t[size_ + 1];
    std::memcpy(copy, text.data(), size_ * sizeof(char16_t));
    copy[size_] = 0;
    storage_.heap = copy;
  }
  // Points at a constant that outlives every node.
  void borrow(std::u16string_view constant) {
    reset();
    storage_.heap = const_cast<char16_t*>(constant.data());
    size_ = static_cast<std::uint32_t>(constant.size());
    mode_ = Mode::kBorrowed;
  }
  // Takes an owned heap buffer (new[]) of `size` units followed by a zero.
  void adopt(char16_t* buffer, std::uint32_t size) {
    reset();
    storage_.heap = buffer;
    size_ = size;
    mode_ = Mode::kOwned;
  }
  // With a batch, an arena copy is freed through it.
  // Takes one owner's share of an arena copy of `size` units and a zero.
  void adoptArena(char16_t* copy, std::uint32_t size) {
    reset();
    storage_.heap = copy;
    size_ = size;
    mode_ = Mode::kArena;
  }
  void reset(json::FreeBatch* batch = nullptr) {
    if (mode_ == Mode::kOwned) {
      delete[] storage_.heap;
    } else if (mode_ == Mode::kArena) {
      if (batch) {
        batch->free(storage_.heap);
      } else {
        json::Arena::free(storage_.heap);
      }
    }
    size_ = 0;
    mode_ = Mode::kNone;
  }

  bool present() const { return mode_ != Mode::kNone; }
  std::u16string_view view() const {
    switch (mode_) {
      case Mode::kNone:
        return {};
      case Mode::kInline:
        return {storage_.units, size_};
      default:
        return {storage_.heap, size_};
    }
  }
  std::uint32_t size() const { return size_; }

 private:
  enum class Mode : std::uint8_t { kNone, kInline, kOwned, kArena, kBorrowed };

  void take(NodeText& other) {
    storage_ = other.storage_;
    size_ = other.size_;
    mode_ = other.mode_;
    other.size_ = 0;
    other.mode_ = Mode::kNone;
  }

  union Storage {
    char16_t* heap;
    char16_t units[kInlineUnits];
  } storage_{};
  std::uint32_t size_ = 0;
  Mode mode_ = Mode::kNone;
};

static_assert(sizeof(NodeText) == 16);

}  // namespace varnel
