// Pages that try to hurt whoever reads them, served by the demo site under
// /hostile/ when DemoOptions::faultCases is set:
//
//   /hostile/huge-length  announces Content-Length 2 GiB, sends 20 MiB, closes
//   /hostile/endless      chunked text, 20 MiB (past any page cap), then ends
//   /hostile/trickle      chunked, one byte every 200 ms for 10 s
//   /hostile/nul-front    a front page with editions A, B<NUL>x, C, D (a NUL in
//                         a comment of <head> too), each with subject "S"
//                         linking to /hostile/nul-list
//   /hostile/nul-list     a list of five books, NUL bytes inside and between them
//   /hostile/deep-front   a front page with editions A and B and, between them,
//                         a block of kHostileNesting nested <div>s
//   /hostile/loop         redirects to itself
//   /hostile/to-file      redirects to file:///etc/passwd
//   /hostile/to-gopher    redirects to gopher://127.0.0.1/
#pragma once

namespace httplib {
class Server;
}

namespace varnel::demo {

inline constexpr int kHostileNesting = 100000;
inline constexpr int kHostileListBooks = 5;

// Registers the pages; call before any catch-all handler.
void installHostilePages(httplib::Server& server);

}  // namespace varnel::demo
