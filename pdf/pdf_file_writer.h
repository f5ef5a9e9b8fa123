// The few pieces of PDF syntax a book of images needs, written straight to a
// file in one pass: numbered objects, streams whose data is copied as it is,
// a cross-reference table and a trailer. Nothing is buffered but the offsets
// of the objects, so a stream costs no memory beyond what the caller holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

class PdfFileWriter {
 public:
  // Writes the header at once. `out` stays the caller's; nothing is closed.
  explicit PdfFileWriter(std::FILE* out);

  // A number for an object written later, so others can refer to it first.
  int reserveObject();

  // Writes object `number` (from reserveObject) holding `body`, e.g. a
  // dictionary "<< /Type /Catalog /Pages 2 0 R >>".
  void writeObject(int number, std::string_view body);

  // Writes stream object `number`: `dictionary` is the inside of its
  // dictionary without /Length, which is added from `data`.
  void writeStream(int number, std::string_view dictionary, std::string_view data);

  // Cross-reference table and trailer. False when any write failed, an object
  // was reserved but never written, or the file passed the ten-digit offsets
  // the table can hold.
  bool finish(int root, int info);

  // False once a write failed; later writes are skipped.
  bool ok() const { return ok_; }

 private:
  void put(std::string_view bytes);
  void beginObject(int number);

  std::FILE* out_;
  std::uint64_t offset_ = 0;
  std::vector<std::uint64_t> offsets_;  // by object number - 1; 0 = not written yet
  bool ok_ = true;
};

// "(text)" is not safe for every title; a hex string is: <FEFF...> (UTF-16BE
// with a byte order mark) for anything beyond ASCII, else the ASCII bytes.
std::string pdfTextString(std::string_view utf8);

}  // namespace varnel
