// The baseline of the upload benchmarks: one plain libcurl POST of a gzip protobuf body, on a
// new handle, as a client that does nothing else would send it.
#pragma once

#include <curl/curl.h>

#include <string>
#include <vector>

namespace brivel::bench {

// True when the POST went through (whatever the status).
inline bool plainGzipPost(const std::string& url, const std::vector<unsigned char>& body) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return false;
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Content-Type: application/x-protobuf");
  headers = curl_slist_append(headers, "Content-Encoding: gzip");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  const bool sent = curl_easy_perform(curl) == CURLE_OK;
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return sent;
}

}  // namespace brivel::bench
