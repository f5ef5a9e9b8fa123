#include "pdf/pdf_file_writer.h"

#include <algorithm>
#include <random>

#include "text/text.h"  // utf8ToUtf16

namespace varnel {
namespace {

// The binary comment tells transfer programs that the file is not text.
constexpr std::string_view kHeader = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
// A cross-reference entry holds a ten-digit offset.
constexpr std::uint64_t kMaxOffset = 9999999999ull;
constexpr int kIdBytes = 16;

void appendHex(std::string& out, unsigned value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  out += kDigits[(value >> 4) & 0xF];
  out += kDigits[value & 0xF];
}

}  // namespace

PdfFileWriter::PdfFileWriter(std::FILE* out) : out_(out) { put(kHeader); }

int PdfFileWriter::reserveObject() {
  offsets_.push_back(0);
  return static_cast<int>(offsets_.size());
}

void PdfFileWriter::put(std::string_view bytes) {
  if (!ok_) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) ok_ = false;
  offset_ += bytes.size();
}

void PdfFileWriter::beginObject(int number) {
  if (number < 1 || static_cast<std::size_t>(number) > offsets_.size() ||
      offsets_[static_cast<std::size_t>(number - 1)] != 0) {
    ok_ = false;  // a number never reserved, or an object written twice
    return;
  }
  offsets_[static_cast<std::size_t>(number - 1)] = offset_;
  put(std::to_string(number) + " 0 obj\n");
}

void PdfFileWriter::writeObject(int number, std::string_view body) {
  beginObject(number);
  put(body);
  put("\nendobj\n");
}

void PdfFileWriter::writeStream(int number, std::string_view dictionary, std::string_view data) {
  beginObject(number);
  put("<< ");
  put(dictionary);
  put(" /Length " + std::to_string(data.size()) + " >>\nstream\n");
  put(data);
  put("\nendstream\nendobj\n");
}

bool PdfFileWriter::finish(int root, int info) {
  if (!ok_ || std::count(offsets_.begin(), offsets_.end(), 0u) > 0) return false;
  const std::uint64_t xrefOffset = offset_;
  const std::size_t size = offsets_.size() + 1;  // object 0 heads the free list
  std::string table = "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
  char entry[24];
  for (std::uint64_t offset : offsets_) {
    if (offset > kMaxOffset) return false;
    std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                  static_cast<unsigned long long>(offset));
    table += entry;
  }
  // The identifier only has to differ between files.
  std::random_device random;
  std::string id;
  for (int i = 0; i < kIdBytes; ++i) appendHex(id, random() & 0xFF);
  table += "trailer\n<< /Size " + std::to_string(size) + " /Root " + std::to_string(root) +
           " 0 R /Info " + std::to_string(info) + " 0 R /ID [<" + id + "> <" + id +
           ">] >>\nstartxref\n" + std::to_string(xrefOffset) + "\n%%EOF\n";
  put(table);
  return ok_;
}

std::string pdfTextString(std::string_view utf8) {
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string out = "<";
  if (ascii) {
    for (char c : utf8) appendHex(out, static_cast<unsigned char>(c));
  } else {
    out += "FEFF";
    for (char16_t unit : utf8ToUtf16(utf8)) {
      appendHex(out, unit >> 8);
      appendHex(out, unit & 0xFF);
    }
  }
  out += ">";
  return out;
}

}  // namespace varnel
