#include "core/http_client.h"

#include <curl/curl.h>

#include <mutex>

#include "core/utf8.h"

namespace velmor::core {
namespace {

struct Sink {
  std::string* body;
  const BodyChunk* on_chunk;
  bool aborted = false;
};

std::size_t on_write(char* data, std::size_t size, std::size_t n, void* user) {
  auto* sink = static_cast<Sink*>(user);
  std::size_t len = size * n;
  if (sink->on_chunk && *sink->on_chunk) {
    if (!(*sink->on_chunk)(std::string_view(data, len))) {
      sink->aborted = true;
      return 0;
    }
  } else {
    sink->body->append(data, len);
  }
  return len;
}

std::size_t on_header(char* data, std::size_t size, std::size_t n, void* user) {
  auto* headers = static_cast<HttpHeaders*>(user);
  std::string_view line(data, size * n);
  auto colon = line.find(':');
  if (colon != std::string_view::npos) {
    headers->emplace_back(to_lower_ascii(trim(line.substr(0, colon))),
                          std::string(trim(line.substr(colon + 1))));
  } else if (line.starts_with("HTTP/")) {
    headers->clear();  // a new response (after a 100 Continue) starts over
  }
  return size * n;
}

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

Result<HttpResponse> http_send(const HttpRequest& request, const BodyChunk& on_chunk) {
  global_init();
  CURL* curl = curl_easy_init();
  if (!curl) return fail(Error::other("could not start an HTTP client"));
  HttpResponse response;
  Sink sink{&response.body, &on_chunk};
  curl_slist* header_list = nullptr;
  for (const auto& [k, v] : request.headers)
    header_list = curl_slist_append(header_list, (k + ": " + v).c_str());
  // libcurl adds "Expect: 100-continue" to large bodies; servers need not
  // handle it and some fakes do not.
  header_list = curl_slist_append(header_list, "Expect:");

  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, header_list);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connect_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_write);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.headers);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  if (request.method == "POST" || request.method == "PUT" || request.method == "PATCH") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  if (request.method != "GET" && request.method != "POST")
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());

  CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  curl_slist_free_all(header_list);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && sink.aborted))
    return fail(Error::other(curl_easy_strerror(code)));
  return response;
}

std::string url_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string form_encode(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string out;
  for (const auto& [k, v] : fields) {
    if (!out.empty()) out += '&';
    out += url_encode(k) + "=" + url_encode(v);
  }
  return out;
}

}  // namespace velmor::core
