// NodeText: the UTF-16 texts a node owns (key, literal, string content).
//
// Kept to a pointer and a length so a node stays small; a text can also
// borrow a constant ("null", "true", "false") instead of copying it.
#pragma once

#include <cstdint>
#include <cstring>  // memcpy
#include <string_view>

namespace varnel {

class NodeText {
 public:
  NodeText() = default;
  explicit NodeText(std::u16string_view text) { assign(text); }
  NodeText(const NodeText&) = delete;
  NodeText& operator=(const NodeText&) = delete;
  NodeText(NodeText&& other) noexcept
      : data_(other.data_), size_(other.size_), owned_(other.owned_) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.owned_ = false;
  }
  NodeText& operator=(NodeText&& other) noexcept {
    if (this != &other) {
      reset();
      data_ = other.data_;
      size_ = other.size_;
      owned_ = other.owned_;
      other.data_ = nullptr;
      other.size_ = 0;
      other.owned_ = false;
    }
    return *this;
  }
  ~NodeText() { reset(); }

  // An owned copy of `text` (zero-terminated); an empty view still makes a text.
  void assign(std::u16string_view text) {
    reset();
    auto* copy = new char16_t[text.size() + 1];
    if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
    copy[text.size()] = 0;
    data_ = copy;
    size_ = static_cast<std::uint32_t>(text.size());
    owned_ = true;
  }
  // Points at a constant that outlives every node.
  void borrow(std::u16string_view constant) {
    reset();
    data_ = const_cast<char16_t*>(constant.data());
    size_ = static_cast<std::uint32_t>(constant.size());
  }
  // Takes an owned buffer of `size` units followed by a zero.
  void adopt(char16_t* buffer, std::uint32_t size) {
    reset();
    data_ = buffer;
    size_ = size;
    owned_ = true;
  }
  void reset() {
    if (owned_) delete[] data_;
    data_ = nullptr;
    size_ = 0;
    owned_ = false;
  }

  bool present() const { return data_ != nullptr; }
  std::u16string_view view() const { return {data_ ? data_ : u"", size_}; }
  std::uint32_t size() const { return size_; }

 private:
  char16_t* data_ = nullptr;
  std::uint32_t size_ = 0;
  bool owned_ = false;
};

}  // namespace varnel
