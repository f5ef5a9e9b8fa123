// NodeText: the UTF-16 texts a node owns (key, literal, string content).
//
// Short texts (most keys and number literals) live inside the node, so
// parsing does not pay one allocation per key and per number; longer ones are
// copied to the heap. A text can also borrow a constant ("null", "true",
// "false") instead of copying it.
#pragma once

#include <cstdint>
#include <cstring>  // memcpy
#include <string_view>

namespace varnel {

class NodeText {
 public:
  static constexpr std::uint32_t kInlineUnits = 11;

  NodeText() = default;
  explicit NodeText(std::u16string_view text) { assign(text); }
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
  void assign(std::u16string_view text) {
    reset();
    size_ = static_cast<std::uint32_t>(text.size());
    if (size_ <= kInlineUnits) {
      if (size_) std::memcpy(storage_.units, text.data(), size_ * sizeof(char16_t));
      mode_ = Mode::kInline;
      return;
    }
    auto* copy = new char16_t[size_ + 1];
    std::memcpy(copy, text.data(), size_ * sizeof(char16_t));
    copy[size_] = 0;
    storage_.heap = copy;
    mode_ = Mode::kOwned;
  }
  // Points at a constant that outlives every node.
  void borrow(std::u16string_view constant) {
    reset();
    storage_.heap = const_cast<char16_t*>(constant.data());
    size_ = static_cast<std::uint32_t>(constant.size());
    mode_ = Mode::kBorrowed;
  }
  // Takes an owned heap buffer of `size` units followed by a zero.
  void adopt(char16_t* buffer, std::uint32_t size) {
    reset();
    storage_.heap = buffer;
    size_ = size;
    mode_ = Mode::kOwned;
  }
  void reset() {
    if (mode_ == Mode::kOwned) delete[] storage_.heap;
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
  enum class Mode : std::uint8_t { kNone, kInline, kOwned, kBorrowed };

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

}  // namespace varnel
