#include "base/run_log.h"

#include <cstdio>
#include <iostream>

#include "base/error.h"
#include "base/locale_info.h"

namespace vantrelle {

std::string LogStamp(const std::tm& when) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "[%04d%02d%02d %02d:%02d:%02d]    ",
                (when.tm_year + 1900) % 10000, (when.tm_mon + 1) % 100, when.tm_mday % 100,
                when.tm_hour % 100, when.tm_min % 100, when.tm_sec % 100);
  return stamp;
}

namespace {

// Appends control character \a c (or code point \a c of the C1 range) as a
// visible escape, "\x1B" or "\u009B": written raw, it would steer the
// terminal that shows the log and hide what stands around it.
void AppendEscape(std::string& out, unsigned c, bool c1) {
  static const char kHex[] = "0123456789ABCDEF";
  out += c1 ? "\\u00" : "\\x";
  out += kHex[(c >> 4) & 15];
  out += kHex[c & 15];
}

// Copies \a text with its control characters escaped; line breaks and tabs
// are kept when \a keep_breaks, else each run of them becomes one space.
std::string Visible(std::string_view text, bool keep_breaks) {
  std::string out;
  out.reserve(text.size());
  bool in_break = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool breaks = c == '\r' || c == '\n' || c == '\t';
    if (breaks && !keep_breaks) {
      if (!in_break) out += ' ';
      in_break = true;
      continue;
    }
    in_break = false;
    if ((c < 0x20 && !breaks) || c == 0x7F) {
      AppendEscape(out, c, false);
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      AppendEscape(out, static_cast<unsigned char>(text[++i]), true);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string OneLine(std::string_view message) { return Visible(message, false); }

void WriteLog(PubDef& pub, std::string_view raw_message) {
  if (!pub.log_failure.empty()) throw LogWriteError(pub.log_failure);
  if (pub.log_stream == nullptr || !pub.log_stream->IsOpen())
    throw Error("The run log is not open.");
  const std::string message = OneLine(raw_message);
  std::string line = LogStamp(pub.clock());
  line.append(message);
  try {
    pub.log_stream->WriteLine(line);
  } catch (const Error& error) {
    pub.log_failure = error.Description();
    throw LogWriteError(pub.log_failure);
  }
  if (RunObserver* window = pub.Window()) {
    if (pub.log_box_lines == 0 || pub.log_box_lines >= 8) {
      pub.log_box_lines = 0;
      window->ClearLogBox();
    }
    ++pub.log_box_lines;
    std::string box_line(message);
    box_line += "\r\n";
    window->AppendLogBox(box_line);
  }
}

namespace {

void RecordError(PubDef& pub, std::string_view error_text, std::string_view info_text) {
  WriteLog(pub, std::string("Error: ").append(error_text));
  WriteLog(pub, std::string("Error Info: ").append(info_text));
  if (pub.error_count < INT32_MAX) ++pub.error_count;
  if (RunObserver* window = pub.Window())
    window->SetField(RunField::kErrorCount, FormatCount(pub.error_count, false));
}

}  // namespace

void LogError(PubDef& pub, std::string_view error_text, std::string_view info_text) {
  // After a stop, what fails is what the stop cut short.
  pub.stop.Check();
  RecordError(pub, error_text, info_text);
}

void LogStopped(PubDef& pub, std::string_view error_text, std::string_view info_text) {
  RecordError(pub, error_text, info_text);
}

void ShowErrorBox(PubDef& pub, std::string_view message) {
  std::string prompt = "Error!\r\nError Info: ";
  prompt.append(message);
  if (RunObserver* window = pub.Window()) {
    window->ShowErrorBox(prompt);
    return;
  }
  std::cerr << "Error!\nError Info: " << Visible(message, true) << std::endl;
}

std::string FormatCount(int count, bool zero_shows_digit) {
  if (count == 0) return zero_shows_digit ? "0" : "";
  std::string digits = std::to_string(count < 0 ? -static_cast<long>(count) : count);
  const std::string& separator = LocaleInfo::Current().group_separator;
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += separator;
    text += digits[i];
  }
  return count < 0 ? "-" + text : text;
}

void CountUp(int16_t& counter) {
  if (counter == INT16_MAX) throw Error("Overflow", kErrOverflow);
  ++counter;
}

}  // namespace vantrelle
