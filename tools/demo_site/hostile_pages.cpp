#include "tools/demo_site/hostile_pages.h"

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

namespace varnel::demo {
namespace {

constexpr std::uint64_t kAnnouncedBytes = 2ull << 30;
constexpr std::size_t kSentBytes = 20u << 20;
constexpr std::size_t kChunkBytes = 64u << 10;
constexpr auto kTrickleStep = std::chrono::milliseconds(200);
constexpr int kTrickleBytes = 50;  // ten seconds

using namespace std::string_literals;  // "..."s keeps NUL bytes

constexpr std::string_view kHtmlType = "text/html; charset=utf-8";
constexpr std::string_view kHeaderBlocks =
    "<div class=\"top\">top</div><div class=\"search\">search</div>"
    "<div class=\"notice\">notice</div>\n";

std::string editionBlock(const std::string& name) {
  return "<div><ul><li class=\"li1\">" + name +
         "</li><li class=\"aaaul childmenu\"><a href=\"/hostile/nul-list\">S</a></li></ul></div>\n";
}

std::string frontPage(const std::string& head, const std::string& blocks) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + head +
         "</head><body><div id=\"cemian\">" + std::string(kHeaderBlocks) + blocks +
         "</div></body></html>\n";
}

std::string nulFront() {
  std::string blocks;
  for (const std::string& name : {"A"s, "B\0x"s, "C"s, "D"s}) blocks += editionBlock(name);
  return frontPage("<!-- a comment with a \0 in it -->"s, blocks);
}

std::string nulList() {
  std::string books;
  for (int i = 1; i <= kHostileListBooks; ++i) {
    const std::string n = std::to_string(i);
    books += "<div class=\"book\" url=\"/book/" + n + ".html\" nname=\"book" + n +
             (i == 2 ? "\0x"s : ""s) + "\" pagecount=\"3\"></div>" + (i % 2 ? "\0\n"s : "\n"s);
  }
  return "<html><body><div id=\"middle\"><div>crumbs</div><div>heading</div><div>\n" + books +
         "<div class=\"cleardiv\"></div></div></div></body></html>\n";
}

std::string deepFront() {
  std::string deep = "<div class=\"deep\">";
  deep.reserve(kHostileNesting * 11 + 64);
  for (int i = 0; i < kHostileNesting; ++i) deep += "<div>";
  deep += "deep";
  for (int i = 0; i < kHostileNesting; ++i) deep += "</div>";
  deep += "</div>\n";
  return frontPage("", editionBlock("A") + deep + editionBlock("B"));
}

void serveFixed(httplib::Server& server, const std::string& path, std::string body) {
  server.Get(path, [body = std::move(body)](const httplib::Request&, httplib::Response& res) {
    res.set_content(body, std::string(kHtmlType));
  });
}

void redirectTo(httplib::Server& server, const std::string& path, const std::string& target) {
  server.Get(path, [target](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(target);
  });
}

// Filler text, sent until `limit` bytes are out or the reader hangs up.
bool sendFiller(std::size_t offset, std::size_t limit, httplib::DataSink& sink) {
  static const std::string chunk(kChunkBytes, 'x');
  if (offset >= limit) return false;
  return sink.write(chunk.data(), chunk.size());
}

}  // namespace

void installHostilePages(httplib::Server& server) {
  server.Get("/hostile/huge-length", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(kAnnouncedBytes, std::string(kHtmlType),
                             [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               return sendFiller(offset, kSentBytes,
                                                 sink);  // then the connection drops
                             });
  });
  server.Get("/hostile/endless", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider(std::string(kHtmlType),
                                     [](std::size_t offset, httplib::DataSink& sink) {
                                       if (offset >= kSentBytes) {
                                         sink.done();
                                         return true;
                                       }
                                       return sendFiller(offset, kSentBytes, sink);
                                     });
  });
  server.Get("/hostile/trickle", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider(std::string(kHtmlType),
                                     [](std::size_t offset, httplib::DataSink& sink) {
                                       if (offset >= kTrickleBytes) {
                                         sink.done();
                                         return true;
                                       }
                                       std::this_thread::sleep_for(kTrickleStep);
                                       return sink.write("<", 1);
                                     });
  });
  serveFixed(server, "/hostile/nul-front", nulFront());
  serveFixed(server, "/hostile/nul-list", nulList());
  serveFixed(server, "/hostile/deep-front", deepFront());
  redirectTo(server, "/hostile/loop", "/hostile/loop");
  redirectTo(server, "/hostile/to-file", "file:///etc/passwd");
  redirectTo(server, "/hostile/to-gopher", "gopher://127.0.0.1/");
}

}  // namespace varnel::demo
