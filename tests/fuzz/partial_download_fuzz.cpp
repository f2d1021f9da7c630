// The partial download's parsers over outside bytes: a response's header
// block (the server's) and the record beside a partial file (anyone's, in
// the temporary folder). Neither may read past its input; a record it
// accepts must format back to one it reads the same, and a decision on any
// response must be one of the four.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "download/partial_download.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto record = tarnix::ParsePartialRecord(bytes)) {
    auto text = tarnix::FormatPartialRecord(*record);
    if (!text) std::abort();
    auto again = tarnix::ParsePartialRecord(*text);
    if (!again || again->url != record->url || again->validator != record->validator ||
        again->total != record->total)
      std::abort();
  }
  // The same bytes as a header block, two bytes to a UTF-16 unit.
  std::wstring headers;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    headers.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  const std::uint32_t status = size > 0 ? 200u + data[0] % 8u : 206u;
  const tarnix::ResponseFacts facts = tarnix::ParseResponseFacts(status, headers);
  if (facts.rangeFirst && (!facts.rangeLast || *facts.rangeLast < *facts.rangeFirst)) std::abort();
  const tarnix::BodyUse use = tarnix::DecideBodyUse(size, size * 2 + 1, facts);
  if (use == tarnix::BodyUse::kAppend && facts.rangeFirst != size) std::abort();
  static_cast<void>(tarnix::RecordForWholeBody(L"http://h/f", facts));
  return 0;
}
