// Mail through the configured SMTP server, by libcurl: one message to one
// recipient, with a text and attachments. STARTTLS is required on smtp://
// unless [Mail] RequireTls=no; smtps:// is TLS from the start.
#pragma once

#include <string>
#include <vector>

#include "server/server_config.h"

namespace vantrelle::server {

struct MailAttachment {
  std::string path;   ///< the file to attach
  std::string name;   ///< its name in the mail
  std::string type;   ///< its media type
};

struct MailMessage {
  std::string to;
  std::string subject;
  std::string text;
  std::vector<MailAttachment> attachments;
};

/// How one try went. A failure is temporary (a 4xx answer, a server that
/// cannot be reached) or final (a 5xx answer, a refused login).
struct MailResult {
  bool sent = false;
  bool final = false;
  std::string message;  ///< the server's answer or the failure
};

/// Sends \a message. A try is never cut short from outside: a mail the
/// server may have taken is not sent again. A server that stops answering
/// ends the try after a minute.
MailResult SendMail(const MailConfig& mail, const MailMessage& message);

/// \a text as a header value: kept when it is plain ASCII, else encoded
/// (RFC 2047) in words of at most 75 characters, one to a line, also when
/// plain text would read as such a word; line breaks and other
/// control characters become spaces, and text beyond 200 bytes is cut.
std::string HeaderText(const std::string& text);

}  // namespace vantrelle::server
