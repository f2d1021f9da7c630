#pragma once
// A download that goes on where an earlier attempt stopped. The bytes go into
// a partial file beside the installer's path, never into the installer's own
// name: the installer only ever appears whole. Beside the partial file a
// small record keeps what a later range request needs: the URL the bytes
// came from, the response's validator (a strong ETag, else Last-Modified)
// and the file's total length. A later attempt, in this launch or the next,
// asks for the rest ("Range: bytes=N-" with "If-Range:" that validator) and
// appends what comes when the server answers with exactly that rest.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnix {

// The partial file and its record, named after the installer's path.
inline constexpr wchar_t kPartialSuffix[] = L".partial";
inline constexpr wchar_t kPartialRecordSuffix[] = L".partial.txt";
// A partial file last written longer ago than this is deleted, not resumed:
// the server's file has most likely changed, and nobody should keep tens of
// megabytes in the temporary folder for a download nobody finishes.
inline constexpr std::uint64_t kPartialMaxAgeDays = 7;
// The record is a few lines; anything longer is not one of ours.
inline constexpr std::size_t kPartialRecordMaxBytes = 4096;

// What one HTTP response says about its body, from the status and the raw
// header block that IHttpNegotiate::OnResponse receives.
struct ResponseFacts {
  std::uint32_t status = 0;
  std::wstring etag;          // as sent, quotes and any "W/" included; empty: none
  std::wstring lastModified;  // as sent; empty: none
  std::optional<std::uint64_t> contentLength;
  // Content-Range "bytes FIRST-LAST/TOTAL" (TOTAL "*" gives none), or
  // "bytes */TOTAL" (then no first byte).
  bool hasContentRange = false;
  std::optional<std::uint64_t> rangeFirst;
  std::optional<std::uint64_t> rangeLast;
  std::optional<std::uint64_t> rangeTotal;
  // A Content-Encoding other than "identity": the bytes written are not the
  // bytes a range counts, so such a body is never resumed.
  bool encoded = false;
};

// Reads the headers that matter (names in any case; the first of a repeated
// header counts; a value that is not a plain decimal number reads as none).
// The first line (the status line) and lines without a colon are skipped.
ResponseFacts ParseResponseFacts(std::uint32_t status, std::wstring_view headers);

// What is kept beside the partial file.
struct PartialRecord {
  std::wstring url;
  std::wstring validator;  // a strong ETag ("...") or a Last-Modified date
  std::uint64_t total = 0;
};

// The record as the file holds it: ASCII lines "tarnix-partial 1", "url=",
// "validator=", "total=". Nothing when a field holds other than printable
// ASCII (the URL and the validator are sent in a request and must be so).
std::optional<std::string> FormatPartialRecord(const PartialRecord& record);
// The record back; nothing for anything else (another version, a field
// missing or repeated, a total of 0 or not a number, a torn file).
std::optional<PartialRecord> ParsePartialRecord(std::string_view bytes);

// The record that lets a whole body (a 200) of `url` be resumed later:
// nothing without a strong validator (a weak ETag forbids If-Range, and a
// date may be used only where there is no ETag at all), without a total
// length, or for an encoded body.
std::optional<PartialRecord> RecordForWholeBody(const std::wstring& url,
                                                const ResponseFacts& response);

// The headers that ask for the rest from byte `offset` on, each ended by CRLF.
std::wstring ResumeRequestHeaders(std::uint64_t offset, const std::wstring& validator);

// What an attempt does with a response's body.
enum class BodyUse {
  kAppend,     // a 206 from the asked byte of the recorded file: appended to the partial file
  kTakeWhole,  // a 200: the whole file, written from byte 0 (any partial file dropped)
  kStartOver,  // a 416, or a 206 that does not fit: the partial file dropped, the attempt failed
  kDiscard,    // an error status or none: the body is not the installer; the partial file stays
};

// The use of a response to a request from byte `offset` (0: the whole file
// was asked for) of a file of `recordedTotal` bytes (0 when no range was
// asked).
BodyUse DecideBodyUse(std::uint64_t offset, std::uint64_t recordedTotal,
                      const ResponseFacts& response);

}  // namespace tarnix
