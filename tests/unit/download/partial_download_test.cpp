#include "download/partial_download.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace tarnix {
namespace {

TEST(ParseResponseFacts, ReadsTheHeadersThatMatterInAnyCaseAndSkipsTheRest) {
  const ResponseFacts facts =
      ParseResponseFacts(206,
                         L"HTTP/1.1 206 Partial Content\r\n"
                         L"content-length: 500\r\n"
                         L"CONTENT-RANGE: bytes 500-999/1000\r\n"
                         L"ETag:   \"v1\"  \r\n"
                         L"Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n"
                         L"Content-Length: 7\r\n"  // a repeat: the first counts
                         L"X-Other: 1\r\n"
                         L"no colon here\r\n\r\n");
  EXPECT_EQ(facts.status, 206u);
  EXPECT_EQ(facts.contentLength, 500u);
  EXPECT_TRUE(facts.hasContentRange);
  EXPECT_EQ(facts.rangeFirst, 500u);
  EXPECT_EQ(facts.rangeLast, 999u);
  EXPECT_EQ(facts.rangeTotal, 1000u);
  EXPECT_EQ(facts.etag, L"\"v1\"");
  EXPECT_EQ(facts.lastModified, L"Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_FALSE(facts.encoded);
}

TEST(ParseResponseFacts, ContentRangeAndLengthThatAreNotPlainNumbersReadAsNone) {
  struct Case {
    const wchar_t* headers;
    std::optional<std::uint64_t> length, first, last, total;
  };
  const Case cases[] = {
      {L"Content-Range: bytes */1000\r\n", {}, {}, {}, 1000},  // a 416's form
      {L"Content-Range: bytes 0-9/*\r\n", {}, 0, 9, {}},
      {L"Content-Range: bytes 9-0/10\r\n", {}, {}, {}, 10},  // last before first
      {L"Content-Range: items 0-9/10\r\n", {}, {}, {}, {}},
      {L"Content-Range: bytes 1-2/99999999999999999999999\r\n", {}, 1, 2, {}},
      {L"Content-Length: -5\r\n", {}, {}, {}, {}},
      {L"Content-Length: 12abc\r\n", {}, {}, {}, {}},
      {L"Content-Length: 18446744073709551615\r\n", 18446744073709551615u, {}, {}, {}},
      {L"Content-Length: 18446744073709551616\r\n", {}, {}, {}, {}},
      {L"Content-Length:\r\n", {}, {}, {}, {}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const ResponseFacts facts = ParseResponseFacts(200, cases[i].headers);
    EXPECT_EQ(facts.contentLength, cases[i].length) << "case " << i;
    EXPECT_EQ(facts.rangeFirst, cases[i].first) << "case " << i;
    EXPECT_EQ(facts.rangeLast, cases[i].last) << "case " << i;
    EXPECT_EQ(facts.rangeTotal, cases[i].total) << "case " << i;
  }
}

TEST(ParseResponseFacts, AnyContentEncodingButIdentityMarksTheBodyEncoded) {
  EXPECT_TRUE(ParseResponseFacts(200, L"Content-Encoding: gzip\r\n").encoded);
  EXPECT_FALSE(ParseResponseFacts(200, L"Content-Encoding: Identity\r\n").encoded);
  EXPECT_FALSE(ParseResponseFacts(200, L"").encoded);
}

TEST(PartialRecord, RoundTripsAndRefusesWhatIsNotOneOfOurs) {
  const PartialRecord record{L"http://host/TarnixSetup.exe", L"\"abc\"", 85'000'000};
  std::optional<std::string> text = FormatPartialRecord(record);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "tarnix-partial 1\r\nurl=http://host/TarnixSetup.exe\r\nvalidator=\"abc\"\r\n"
            "total=85000000\r\n");
  std::optional<PartialRecord> back = ParsePartialRecord(*text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->url, record.url);
  EXPECT_EQ(back->validator, record.validator);
  EXPECT_EQ(back->total, record.total);

  const char* refused[] = {
      "",
      "tarnix-partial 2\r\nurl=u\r\nvalidator=v\r\ntotal=1\r\n",
      "tarnix-partial 1\r\nurl=u\r\nvalidator=v\r\n",             // no total
      "tarnix-partial 1\r\nurl=u\r\nvalidator=v\r\ntotal=0\r\n",  // nothing to resume
      "tarnix-partial 1\r\nurl=u\r\nvalidator=v\r\ntotal=1x\r\n",
      "tarnix-partial 1\r\nurl=u\r\nurl=w\r\nvalidator=v\r\ntotal=1\r\n",   // repeated
      "tarnix-partial 1\r\nurl=u\r\nvalidator=\r\ntotal=1\r\n",             // empty
      "tarnix-partial 1\r\nurl=u\r\nvalidator=v\r\ntotal=1\r\nsize=2\r\n",  // unknown field
      "tarnix-partial 1\r\nurl=u\r\nvalidator=v\x01\r\ntotal=1\r\n",        // not printable
      "tarnix-partial 1\r\nurl=u\r\nvalidator=v\r\ntot",                    // torn
  };
  for (const char* bytes : refused) EXPECT_FALSE(ParsePartialRecord(bytes)) << bytes;
  EXPECT_FALSE(ParsePartialRecord(std::string(4097, 'x')));  // past 4,096 bytes
  // Nothing to send in a request: not written at all.
  EXPECT_FALSE(FormatPartialRecord({L"http://host/\u00e9", L"\"v\"", 1}));
  EXPECT_FALSE(FormatPartialRecord({L"http://host/", L"\"v\"\r\nX: y", 1}));
}

TEST(RecordForWholeBody, OnlyAStrongValidatorAndATotalLetAWholeBodyBeResumed) {
  struct Case {
    const char* name;
    std::uint32_t status;
    const wchar_t* headers;
    const wchar_t* validator;  // null: no record
  };
  const Case cases[] = {
      {"strong ETag", 200, L"Content-Length: 10\r\nETag: \"a\"\r\nLast-Modified: D\r\n", L"\"a\""},
      {"date without ETag", 200, L"Content-Length: 10\r\nLast-Modified: D\r\n", L"D"},
      {"weak ETag, even with a date", 200,
       L"Content-Length: 10\r\nETag: W/\"a\"\r\nLast-Modified: D\r\n", nullptr},
      {"no validator", 200, L"Content-Length: 10\r\n", nullptr},
      {"no total", 200, L"ETag: \"a\"\r\n", nullptr},
      {"empty body", 200, L"Content-Length: 0\r\nETag: \"a\"\r\n", nullptr},
      {"encoded", 200, L"Content-Length: 10\r\nETag: \"a\"\r\nContent-Encoding: gzip\r\n", nullptr},
      {"not a 200", 206, L"Content-Length: 10\r\nETag: \"a\"\r\n", nullptr},
  };
  for (const Case& c : cases) {
    std::optional<PartialRecord> record =
        RecordForWholeBody(L"http://h/f", ParseResponseFacts(c.status, c.headers));
    ASSERT_EQ(record.has_value(), c.validator != nullptr) << c.name;
    if (!record) continue;
    EXPECT_EQ(record->validator, c.validator) << c.name;
    EXPECT_EQ(record->total, 10u) << c.name;
    EXPECT_EQ(record->url, L"http://h/f") << c.name;
  }
  EXPECT_EQ(ResumeRequestHeaders(500, L"\"a\""), L"Range: bytes=500-\r\nIf-Range: \"a\"\r\n");
}

// The decision for every answer to a request for the rest from byte 400 of
// a file of 1000 bytes, and to a request for the whole file.
TEST(DecideBodyUse, StatusHeadersAndPartialStateDecideAppendTakeWholeStartOverOrDiscard) {
  struct Case {
    std::uint64_t offset;
    std::uint64_t total;
    std::uint32_t status;
    const wchar_t* headers;
    BodyUse use;
  };
  const Case cases[] = {
      {400, 1000, 206, L"Content-Range: bytes 400-999/1000\r\n", BodyUse::kAppend},
      {400, 1000, 206, L"Content-Range: bytes 0-999/1000\r\n", BodyUse::kStartOver},
      {400, 1000, 206, L"Content-Range: bytes 401-999/1000\r\n", BodyUse::kStartOver},
      {400, 1000, 206, L"Content-Range: bytes 400-999/2000\r\n",
       BodyUse::kStartOver},  // changed file
      {400, 1000, 206, L"Content-Range: bytes 400-799/1000\r\n",
       BodyUse::kAppend},  // a part of the rest: appended, the rest asked for again
      {400, 1000, 206, L"Content-Range: bytes 400-1000/1000\r\n",
       BodyUse::kStartOver},  // past the end
      {400, 1000, 206, L"Content-Range: bytes 400-999/*\r\n", BodyUse::kStartOver},
      {400, 1000, 206, L"", BodyUse::kStartOver},
      {400, 1000, 206, L"Content-Range: bytes 400-999/1000\r\nContent-Encoding: gzip\r\n",
       BodyUse::kStartOver},
      {0, 0, 206, L"Content-Range: bytes 0-999/1000\r\n", BodyUse::kStartOver},  // never asked for
      {400, 1000, 200, L"Content-Length: 1000\r\n",
       BodyUse::kTakeWhole},  // range ignored or changed
      {0, 0, 200, L"", BodyUse::kTakeWhole},
      {400, 1000, 416, L"Content-Range: bytes */900\r\n", BodyUse::kStartOver},
      {400, 1000, 404, L"", BodyUse::kDiscard},
      {400, 1000, 407, L"", BodyUse::kDiscard},
      {400, 1000, 503, L"", BodyUse::kDiscard},
      {0, 0, 0, L"", BodyUse::kDiscard},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(DecideBodyUse(c.offset, c.total, ParseResponseFacts(c.status, c.headers)), c.use)
        << "case " << i;
  }
}

}  // namespace
}  // namespace tarnix
