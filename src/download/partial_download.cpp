#include "download/partial_download.h"

#include <limits>

#include "platform/wide_text.h"

namespace tarnix {
namespace {

constexpr std::string_view kRecordHeader = "tarnix-partial 1";

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t' || text.back() == L'\r'))
    text.remove_suffix(1);
  return text;
}

// A plain decimal number that fits 64 bits; nothing for anything else.
template <typename Char>
std::optional<std::uint64_t> DecimalOf(std::basic_string_view<Char> text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (Char c : text) {
    if (c < Char('0') || c > Char('9')) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - Char('0'));
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// "bytes FIRST-LAST/TOTAL", "bytes FIRST-LAST/*" or "bytes */TOTAL".
void ReadContentRange(std::wstring_view value, ResponseFacts* facts) {
  facts->hasContentRange = true;
  constexpr std::wstring_view kUnit = L"bytes ";
  if (!StartsWithIgnoringCase(value, kUnit)) return;
  value.remove_prefix(kUnit.size());
  const std::size_t slash = value.find(L'/');
  if (slash == std::wstring_view::npos) return;
  const std::wstring_view span = Trim(value.substr(0, slash));
  facts->rangeTotal = DecimalOf(Trim(value.substr(slash + 1)));
  const std::size_t dash = span.find(L'-');
  if (dash == std::wstring_view::npos) return;
  facts->rangeFirst = DecimalOf(span.substr(0, dash));
  facts->rangeLast = DecimalOf(span.substr(dash + 1));
  if (!facts->rangeFirst || !facts->rangeLast || *facts->rangeLast < *facts->rangeFirst) {
    facts->rangeFirst.reset();
    facts->rangeLast.reset();
  }
}

bool IsPrintableAscii(std::wstring_view text) {
  for (wchar_t c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

bool IsStrongEtag(std::wstring_view etag) {
  return etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"';
}

std::string Narrow(std::wstring_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) bytes.push_back(static_cast<char>(c));
  return bytes;
}

std::wstring Widen(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace

ResponseFacts ParseResponseFacts(std::uint32_t status, std::wstring_view headers) {
  ResponseFacts facts;
  facts.status = status;
  bool statusLine = true;
  bool seenLength = false, seenRange = false, seenEtag = false, seenModified = false,
       seenEncoding = false;
  while (!headers.empty()) {
    const std::size_t end = headers.find(L'\n');
    std::wstring_view line = headers.substr(0, end);
    headers.remove_prefix(end == std::wstring_view::npos ? headers.size() : end + 1);
    if (statusLine) {
      statusLine = false;
      if (StartsWithIgnoringCase(line, L"HTTP/")) continue;
    }
    const std::size_t colon = line.find(L':');
    if (colon == std::wstring_view::npos) continue;
    const std::wstring_view name = Trim(line.substr(0, colon));
    const std::wstring_view value = Trim(line.substr(colon + 1));
    if (EqualsIgnoringCase(name, L"Content-Length") && !seenLength) {
      seenLength = true;
      facts.contentLength = DecimalOf(value);
    } else if (EqualsIgnoringCase(name, L"Content-Range") && !seenRange) {
      seenRange = true;
      ReadContentRange(value, &facts);
    } else if (EqualsIgnoringCase(name, L"ETag") && !seenEtag) {
      seenEtag = true;
      facts.etag = value;
    } else if (EqualsIgnoringCase(name, L"Last-Modified") && !seenModified) {
      seenModified = true;
      facts.lastModified = value;
    } else if (EqualsIgnoringCase(name, L"Content-Encoding") && !seenEncoding) {
      seenEncoding = true;
      facts.encoded = !value.empty() && !EqualsIgnoringCase(value, L"identity");
    }
  }
  return facts;
}

std::optional<std::string> FormatPartialRecord(const PartialRecord& record) {
  if (record.url.empty() || record.validator.empty() || record.total == 0) return std::nullopt;
  if (!IsPrintableAscii(record.url) || !IsPrintableAscii(record.validator)) return std::nullopt;
  std::string text(kRecordHeader);
  text += "\r\nurl=" + Narrow(record.url);
  text += "\r\nvalidator=" + Narrow(record.validator);
  text += "\r\ntotal=" + std::to_string(record.total) + "\r\n";
  return text;
}

std::optional<PartialRecord> ParsePartialRecord(std::string_view bytes) {
  if (bytes.size() > kPartialRecordMaxBytes) return std::nullopt;
  PartialRecord record;
  bool header = false, url = false, validator = false, total = false;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (char c : line)
      if (c < 0x20 || c > 0x7E) return std::nullopt;
    if (!header) {
      if (line != kRecordHeader) return std::nullopt;
      header = true;
      continue;
    }
    if (line.empty()) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view name = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    bool* seen = name == "url"         ? &url
                 : name == "validator" ? &validator
                 : name == "total"     ? &total
                                       : nullptr;
    if (seen == nullptr || *seen || value.empty()) return std::nullopt;
    *seen = true;
    if (name == "url") record.url = Widen(value);
    if (name == "validator") record.validator = Widen(value);
    if (name == "total") {
      std::optional<std::uint64_t> number = DecimalOf(value);
      if (!number || *number == 0) return std::nullopt;
      record.total = *number;
    }
  }
  if (!header || !url || !validator || !total) return std::nullopt;
  return record;
}

std::optional<PartialRecord> RecordForWholeBody(const std::wstring& url,
                                                const ResponseFacts& response) {
  if (response.status != 200 || response.encoded) return std::nullopt;
  if (!response.contentLength || *response.contentLength == 0) return std::nullopt;
  PartialRecord record;
  record.url = url;
  record.total = *response.contentLength;
  if (!response.etag.empty()) {
    if (!IsStrongEtag(response.etag)) return std::nullopt;
    record.validator = response.etag;
  } else if (!response.lastModified.empty()) {
    record.validator = response.lastModified;
  } else {
    return std::nullopt;
  }
  if (!FormatPartialRecord(record)) return std::nullopt;
  return record;
}

std::wstring ResumeRequestHeaders(std::uint64_t offset, const std::wstring& validator) {
  return L"Range: bytes=" + std::to_wstring(offset) + L"-\r\nIf-Range: " + validator + L"\r\n";
}

BodyUse DecideBodyUse(std::uint64_t offset, std::uint64_t recordedTotal,
                      const ResponseFacts& response) {
  switch (response.status) {
    case 200:
      return BodyUse::kTakeWhole;
    case 206: {
      // Only bytes from where the partial file ends, of the file that was
      // recorded, fit: anything else would splice two files. A server that
      // sends less than the whole rest is appended to and asked again.
      const bool fits = offset > 0 && !response.encoded && response.rangeFirst == offset &&
                        response.rangeTotal == recordedTotal && response.rangeLast &&
                        *response.rangeLast < recordedTotal;
      return fits ? BodyUse::kAppend : BodyUse::kStartOver;
    }
    case 416:
      return BodyUse::kStartOver;
    default:
      return BodyUse::kDiscard;
  }
}

}  // namespace tarnix
