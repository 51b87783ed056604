#include "server/mailer.h"

#include <curl/curl.h>
#include <sodium.h>

#include <algorithm>
#include <ctime>
#include <memory>

namespace vantrelle::server {
namespace {

constexpr size_t kHeaderBytes = 200;  // of a subject's text; the rest is cut

std::string Base64(const std::string& text) {
  std::string out(sodium_base64_ENCODED_LEN(text.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(text.data()),
                    text.size(), sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.find('\0'));
  return out;
}

std::string DateHeader() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
  return text;
}

struct CurlList {
  curl_slist* list = nullptr;
  ~CurlList() { curl_slist_free_all(list); }
  void Add(const std::string& item) { list = curl_slist_append(list, item.c_str()); }
};

}  // namespace

std::string HeaderText(const std::string& text) {
  std::string plain;
  bool ascii = true;
  for (unsigned char c : text) {
    // Keep the header short, cut between characters.
    if (plain.size() >= kHeaderBytes && (c & 0xC0) != 0x80) {
      plain += "...";
      break;
    }
    plain += c < ' ' || c == 0x7f ? ' ' : static_cast<char>(c);
    if (c >= 0x80) ascii = false;
  }
  // Plain ASCII stays as it is, unless it reads as an encoded word itself.
  if (ascii && plain.find("=?") == std::string::npos) return plain;
  // Encoded words of at most 75 characters, each of whole characters, one
  // to a line.
  std::string out;
  size_t start = 0;
  while (start < plain.size()) {
    size_t end = std::min(plain.size(), start + 45);
    while (end < plain.size() && (static_cast<unsigned char>(plain[end]) & 0xC0) == 0x80) --end;
    out += (out.empty() ? "" : "\r\n ") + std::string("=?UTF-8?B?") +
           Base64(plain.substr(start, end - start)) + "?=";
    start = end;
  }
  return out;
}

MailResult SendMail(const MailConfig& mail, const MailMessage& message) {
  MailResult result;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    result.message = "the mail library cannot start";
    return result;
  }
  CURL* handle = curl.get();
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_URL, mail.server.c_str());
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 20L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, 300L);
  // A server that stops answering, to a command or while taking the data,
  // is given up after a minute.
  curl_easy_setopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, 60L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  if (mail.require_tls) curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  if (!mail.ca_file.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, mail.ca_file.c_str());
  if (!mail.user.empty()) {
    curl_easy_setopt(handle, CURLOPT_USERNAME, mail.user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, mail.password.c_str());
  }
  const std::string from = "<" + mail.from + ">";
  curl_easy_setopt(handle, CURLOPT_MAIL_FROM, from.c_str());
  CurlList recipients;
  recipients.Add("<" + message.to + ">");
  curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, recipients.list);

  CurlList headers;
  headers.Add("Date: " + DateHeader());
  headers.Add("From: Vantrelle <" + mail.from + ">");
  headers.Add("To: <" + message.to + ">");
  headers.Add("Subject: " + HeaderText(message.subject));
  headers.Add("Auto-Submitted: auto-generated");
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.list);

  std::unique_ptr<curl_mime, decltype(&curl_mime_free)> mime(curl_mime_init(handle), curl_mime_free);
  curl_mimepart* text = curl_mime_addpart(mime.get());
  curl_mime_data(text, message.text.c_str(), message.text.size());
  curl_mime_type(text, "text/plain; charset=utf-8");
  // Quoted-printable keeps every line short and 7-bit, whatever a value holds.
  curl_mime_encoder(text, "quoted-printable");
  for (const MailAttachment& attachment : message.attachments) {
    curl_mimepart* part = curl_mime_addpart(mime.get());
    if (curl_mime_filedata(part, attachment.path.c_str()) != CURLE_OK) {
      result.message = "cannot read " + attachment.path;
      return result;
    }
    curl_mime_filename(part, attachment.name.c_str());
    curl_mime_type(part, attachment.type.c_str());
    curl_mime_encoder(part, "base64");
  }
  curl_easy_setopt(handle, CURLOPT_MIMEPOST, mime.get());

  const CURLcode code = curl_easy_perform(handle);
  long answer = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer);
  if (code == CURLE_OK) {
    result.sent = true;
    result.message = "sent (" + std::to_string(answer) + ")";
    return result;
  }
  result.message = *error ? error : curl_easy_strerror(code);
  if (answer >= 400) result.message += " (" + std::to_string(answer) + ")";
  // A 5xx answer, a refused login or TLS that the server does not offer will
  // not change by trying again.
  result.final = answer >= 500 || code == CURLE_LOGIN_DENIED || code == CURLE_USE_SSL_FAILED ||
                 code == CURLE_UNSUPPORTED_PROTOCOL;
  return result;
}

}  // namespace vantrelle::server
