#include "reference_server_http.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace hhctl::http {
namespace {

// A name taken from the request that is used as one path component.
bool SafeComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
           return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y));
         });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX escapes; an escape that is not one stays as it is. In a query
// value '+' stands for a blank.
std::string PercentDecode(std::string_view text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else if (plusIsBlank && text[i] == '+') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

// The path part of a target before '?': as it is in origin form
// ("/a/b"), without scheme and authority in absolute form ("http://h:1/a/b").
std::string_view OriginPath(std::string_view rawPath) {
  std::size_t sep = rawPath.find("://");
  if (rawPath.empty() || rawPath.front() == '/' || sep == std::string_view::npos || sep == 0) {
    return rawPath;
  }
  for (std::size_t i = 0; i < sep; ++i) {
    char c = rawPath[i];
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool schemeChar = letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!(i == 0 ? letter : schemeChar)) return rawPath;
  }
  std::size_t slash = rawPath.find('/', sep + 3);
  return slash == std::string_view::npos ? std::string_view("/") : rawPath.substr(slash);
}

// Bounds broken while the head arrives: the request line or the headers
// too long.
ReadFailure HeadTooLarge(bool haveRequestLine) {
  return haveRequestLine ? ReadFailure{431, "request header fields too large"}
                         : ReadFailure{414, "request line too long"};
}

// Reads into *buffer up to the empty line that ends the head: the head is
// [*headStart, *headEnd) of it, the bytes after belong to the body.
bool ReadHead(Socket& socket, const Limits& limits, std::string* buffer, std::size_t* headStart,
              std::size_t* headEnd, ReadFailure* failure) {
  const auto deadline = Clock::now() + limits.readTimeout;
  std::size_t lineStart = 0;
  bool haveRequestLine = false;
  while (*headEnd == 0) {
    std::size_t newline = buffer->find('\n', lineStart);
    if (newline == std::string::npos) {
      if (buffer->size() > limits.maxHeadBytes) {
        *failure = HeadTooLarge(haveRequestLine);
        return false;
      }
      long n = socket.ReadSome(buffer, deadline);
      if (n <= 0) {
        // A client that sent nothing, or went away, is not answered.
        if (n < 0 && buffer->size() > *headStart) *failure = {408, "request timeout"};
        return false;
      }
      continue;
    }
    if (newline + 1 > limits.maxHeadBytes) {
      *failure = HeadTooLarge(haveRequestLine);
      return false;
    }
    bool empty = newline == lineStart || (newline == lineStart + 1 && (*buffer)[lineStart] == '\r');
    if (!haveRequestLine && empty) {
      *headStart = newline + 1;  // tolerated before the request line, as HTTP allows
    } else if (!haveRequestLine) {
      haveRequestLine = true;
    } else if (empty) {
      *headEnd = newline + 1;
    }
    lineStart = newline + 1;
  }
  return true;
}

// Splits the head into the request line's three parts and the headers.
bool ParseHead(Request* req, ReadFailure* failure) {
  std::vector<std::string_view> lines;
  std::string_view head = req->head;
  while (!head.empty()) {
    std::size_t newline = head.find('\n');
    std::string_view line = head.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    head.remove_prefix(newline + 1);
  }
  // The method runs to the first blank, the version from the last; the
  // target is everything in between, whatever bytes it holds.
  std::string_view line = lines.front();
  std::size_t first = line.find(' ');
  std::size_t last = line.rfind(' ');
  *failure = {400, "bad request line"};
  if (first == std::string_view::npos || first == last || first + 1 == last) return false;
  if (line.find('\r') != std::string_view::npos) return false;
  req->method = line.substr(0, first);
  req->target = line.substr(first + 1, last - first - 1);
  req->version = line.substr(last + 1);
  for (unsigned char c : req->method) {
    if (c <= ' ' || c >= 0x7f) return false;
  }
  if (req->version.rfind("HTTP/", 0) != 0) return false;

  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    std::string_view header = lines[i];
    if ((header.front() == ' ' || header.front() == '\t') && !req->headers.empty()) {
      // A folded line continues the header before it.
      std::string& value = req->headers.back().second;
      std::string_view more = TrimBlanks(header);
      if (!more.empty()) value += (value.empty() ? "" : " ") + std::string(more);
      continue;
    }
    std::size_t colon = header.find(':');
    if (colon == std::string_view::npos) continue;  // not a header; kept in head only
    req->headers.emplace_back(TrimBlanks(header.substr(0, colon)),
                              TrimBlanks(header.substr(colon + 1)));
  }
  return true;
}

// The body's length from Content-Length; none without one. A body sent in
// chunks is refused rather than read.
bool BodyLength(const Request& req, std::size_t maxBodyBytes, std::optional<std::size_t>* length,
                ReadFailure* failure) {
  if (!req.Values("Transfer-Encoding").empty()) {
    *failure = {411, "a body needs Content-Length"};
    return false;
  }
  for (const auto& value : req.Values("Content-Length")) {
    // "5, 5" from a repeated header is one length.
    std::string_view list = value;
    while (!list.empty()) {
      std::size_t comma = list.find(',');
      std::string_view item = TrimBlanks(list.substr(0, comma));
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      if (item.empty() || item.find_first_not_of("0123456789") != std::string_view::npos ||
          item.size() > 18) {
        *failure = {400, "bad Content-Length"};
        return false;
      }
      std::size_t n = std::strtoull(std::string(item).c_str(), nullptr, 10);
      if (*length && **length != n) {
        *failure = {400, "conflicting Content-Length"};
        return false;
      }
      *length = n;
    }
  }
  if (*length && **length > maxBodyBytes) {
    *failure = {413, "body too large"};
    return false;
  }
  return true;
}

// Reads the rest of a body of want bytes, of which rest holds the first.
bool ReadBody(Socket& socket, const Limits& limits, std::string rest, std::size_t want,
              Request* req, ReadFailure* failure) {
  if (rest.size() < want && req->version != "HTTP/1.0") {
    for (const auto& expect : req->Values("Expect")) {
      if (SameLetters(expect, "100-continue")) {
        socket.WriteAll("HTTP/1.1 100 Continue\r\n\r\n", Clock::now() + limits.readTimeout);
        break;
      }
    }
  }
  while (rest.size() < want) {
    long n = socket.ReadSome(&rest, Clock::now() + limits.readTimeout);
    if (n == 0) return false;  // gone before the whole body
    if (n < 0) {
      *failure = {408, "request timeout"};
      return false;
    }
  }
  rest.resize(want);  // whatever follows is not read: the connection ends here
  req->body = std::move(rest);
  return true;
}

}  // namespace

std::vector<std::string> Request::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [n, v] : headers) {
    if (SameLetters(n, name)) values.push_back(v);
  }
  return values;
}

long Socket::ReadSome(std::string* buffer, Clock::time_point deadline) {
  char chunk[16 * 1024];
  for (;;) {
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n >= 0) {
      buffer->append(chunk, static_cast<std::size_t>(n));
      return static_cast<long>(n);
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (!Wait(POLLIN, deadline)) return -1;
  }
}

// Sends all bytes unless the peer goes away or stops taking them until
// deadline.
bool Socket::WriteAll(std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!Wait(POLLOUT, deadline)) return false;
  }
  return true;
}

bool Socket::Wait(short events, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, events, 0};
    int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (rc > 0) return true;  // readable, writable, or an error the next call reports
    if (rc < 0 && errno != EINTR) return false;
  }
}

bool ReadRequest(Socket& socket, const Limits& limits, Request* req, ReadFailure* failure) {
  std::string buffer;
  std::size_t headStart = 0;  // after any empty lines before the request line
  std::size_t headEnd = 0;
  if (!ReadHead(socket, limits, &buffer, &headStart, &headEnd, failure)) return false;
  req->head = buffer.substr(headStart, headEnd - headStart);
  if (!ParseHead(req, failure)) return false;
  std::optional<std::size_t> length;
  if (!BodyLength(*req, limits.maxBodyBytes, &length, failure)) return false;
  return ReadBody(socket, limits, buffer.substr(headEnd), length.value_or(0), req, failure);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::optional<unsigned long> ReadNumberFile(const std::string& path) {
  auto text = ReadWholeFile(path);
  if (!text) return std::nullopt;
  std::size_t begin = text->find_first_of("0123456789");
  if (begin == std::string::npos) return std::nullopt;
  return std::strtoul(text->c_str() + begin, nullptr, 10);
}

std::optional<std::string> QueryParam(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.empty()) continue;
    std::size_t eq = item.find('=');
    std::string_view key = item.substr(0, eq);
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    if (PercentDecode(key, true) == name) return PercentDecode(value, true);
  }
  return std::nullopt;
}

std::pair<std::string_view, std::string_view> SplitTarget(std::string_view target) {
  std::size_t question = target.find('?');
  if (question == std::string_view::npos) return {target, {}};
  return {target.substr(0, question), target.substr(question + 1)};
}

std::string RouteTarget(const Request& req) {
  const auto [rawPath, query] = SplitTarget(req.target);
  const std::string path = PercentDecode(OriginPath(rawPath), false);
  if (req.method == "GET" && EndsWith(path, "/update/profile")) return "profile.txt";
  if (req.method == "GET" && EndsWith(path, "/update/resource")) {
    auto rid = QueryParam(query, "rid");
    if (!rid) return "resources.txt";
    return SafeComponent(*rid) ? "resources/" + *rid : "";
  }
  if (req.method == "GET" && EndsWith(path, ".edm")) {
    // .../update/data/ID/VER.edm
    std::size_t verAt = path.rfind('/');
    std::size_t idAt =
        verAt == std::string::npos || verAt == 0 ? std::string::npos : path.rfind('/', verAt - 1);
    if (idAt == std::string::npos || !EndsWith(path.substr(0, idAt), "/update/data")) return "";
    std::string id = path.substr(idAt + 1, verAt - idAt - 1);
    std::string ver = path.substr(verAt + 1);
    return ver.size() > 4 && SafeComponent(id) && SafeComponent(ver) ? "data/" + id + "/" + ver
                                                                     : "";
  }
  if (req.method == "POST" && EndsWith(path, "/update/keep")) return "keep";
  return "";
}

std::string ContentTypeFor(const std::string& path) {
  return EndsWith(path, ".txt") ? "text/plain" : "application/octet-stream";
}

const char* ReasonPhrase(int status) {
  static const std::pair<int, const char*> kPhrases[] = {
      {100, "Continue"},
      {200, "OK"},
      {201, "Created"},
      {204, "No Content"},
      {206, "Partial Content"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {307, "Temporary Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {411, "Length Required"},
      {413, "Content Too Large"},
      {414, "URI Too Long"},
      {431, "Request Header Fields Too Large"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  for (const auto& [code, phrase] : kPhrases) {
    if (code == status) return phrase;
  }
  return "Status";
}

std::string Garbage(std::size_t size) {
  std::string out(std::max<std::size_t>(size, 16), '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>((i * 151 + 7) & 0xFF);
  }
  return out;
}

Reply TextReply(int status, std::string text) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(text);
  return reply;
}

std::string LogLine(const Request& req) {
  const auto [rawPath, rawQuery] = SplitTarget(req.target);
  // A repeated header is kept as one value, as HTTP allows, under the
  // name as it was first sent.
  nlohmann::json headers = nlohmann::json::object();
  std::vector<std::string> names;
  for (const auto& [name, value] : req.headers) {
    auto known = std::find_if(names.begin(), names.end(), [&name = name](const std::string& n) {
      return SameLetters(n, name);
    });
    if (known == names.end()) {
      names.push_back(name);
      headers[name] = value;
    } else {
      headers[*known] = headers[*known].get<std::string>() + ", " + value;
    }
  }
  nlohmann::json line = {
      {"method", req.method},   {"path", std::string(rawPath)}, {"query", std::string(rawQuery)},
      {"version", req.version}, {"headers", headers},           {"body", req.body},
      {"head", req.head}};
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace hhctl::http
