#include "download/resumable_transfer.h"

#include <gtest/gtest.h>

#include <string>

#include "download/bind_answers.h"
#include "download/progress.h"
#include "fakes/fake_log.h"
#include "fakes/fake_transfer_files.h"

namespace tarnix {
namespace {

using testing::FakeTransferFiles;
using testing::RecordedLog;

const std::wstring kUrl = L"http://host/TarnixSetup.exe";
const std::wstring kPath = L"C:\\T\\TarnixSetup.exe";
const std::wstring kPartial = kPath + L".partial";
const std::wstring kRecord = kPath + L".partial.txt";
constexpr long kCut = static_cast<std::int32_t>(0x800C0007u);  // INET_E_DATA_NOT_AVAILABLE

std::string Content(char fill, std::size_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i)
    bytes.push_back(static_cast<char>(fill + static_cast<char>(i % 7)));
  return bytes;
}

// A server of one file: it answers a range with If-Range that names its
// validator with a 206 of the rest, anything else with a 200 of the whole
// file. It may leave ranges out, send a weak ETag, or cut the body.
struct Server {
  std::string file = Content('a', 1000);
  std::wstring etag = L"\"v1\"";
  bool ranges = true;
  std::size_t cutAfter = std::string::npos;  // bytes of the body it sends before the cut

  std::wstring lastRequest;

  long Serve(ResumableTransfer& transfer) {
    lastRequest = transfer.RequestHeaders();
    std::uint64_t from = 0;
    const std::size_t range = lastRequest.find(L"Range: bytes=");
    const bool validatorMatches =
        lastRequest.find(L"If-Range: " + etag + L"\r\n") != std::wstring::npos;
    if (range != std::wstring::npos && ranges && validatorMatches)
      from = std::stoull(lastRequest.substr(range + 13));
    std::wstring headers;
    std::string body;
    std::uint32_t status = 200;
    if (from >= file.size() && from != 0) {
      status = 416;
      headers = L"Content-Range: bytes */" + std::to_wstring(file.size()) + L"\r\n";
    } else if (from > 0) {
      status = 206;
      body = file.substr(from);
      headers = L"Content-Range: bytes " + std::to_wstring(from) + L"-" +
                std::to_wstring(file.size() - 1) + L"/" + std::to_wstring(file.size()) + L"\r\n";
    } else {
      body = file;
    }
    headers += L"Content-Length: " + std::to_wstring(body.size()) + L"\r\nETag: " + etag + L"\r\n";
    if (transfer.Response(status, L"HTTP/1.1 " + std::to_wstring(status) + L" X\r\n" + headers) !=
        kResultOk)
      return kResultAbort;
    const std::size_t sent = body.size() < cutAfter ? body.size() : cutAfter;
    for (std::size_t at = 0; at < sent; at += 100) {
      const std::size_t piece = sent - at < 100 ? sent - at : 100;
      if (!transfer.Body(reinterpret_cast<const std::uint8_t*>(body.data() + at), piece))
        return kResultAbort;
    }
    return sent < body.size() ? kCut : kResultOk;
  }
};

struct Attempt {
  std::uint64_t from;
  AttemptEnd end;
};

Attempt RunAttempt(FakeTransferFiles& files, Server& server, const std::wstring& url = kUrl) {
  ResumableTransfer transfer(url, kPath, files);
  Attempt attempt;
  attempt.from = transfer.Prepare();
  attempt.end = transfer.AlreadyWhole() ? transfer.Finish(kResultOk)
                                        : transfer.Finish(server.Serve(transfer));
  return attempt;
}

TEST(ResumableTransfer, AWholeTransferMovesTheFileIntoPlaceAndLeavesNoPartialFile) {
  FakeTransferFiles files;
  Server server;
  Attempt attempt = RunAttempt(files, server);
  EXPECT_EQ(attempt.from, 0u);
  EXPECT_EQ(server.lastRequest, L"");
  EXPECT_TRUE(attempt.end.whole);
  EXPECT_EQ(attempt.end.written, 1000u);
  EXPECT_EQ(files.Bytes(kPath), server.file);
  EXPECT_FALSE(files.Has(kPartial));
  EXPECT_FALSE(files.Has(kRecord));
}

TEST(ResumableTransfer, ACutTransferIsResumedWithRangeAndIfRangeAndAppended) {
  FakeTransferFiles files;
  Server server;
  server.cutAfter = 500;
  Attempt first = RunAttempt(files, server);
  EXPECT_FALSE(first.end.whole);
  EXPECT_EQ(first.end.kept, 500u);
  EXPECT_EQ(first.end.flaw, L"the file has 500 bytes of 1000 bytes");
  EXPECT_FALSE(files.Has(kPath));
  EXPECT_EQ(files.Bytes(kRecord),
            "tarnix-partial 1\r\nurl=http://host/TarnixSetup.exe\r\nvalidator=\"v1\"\r\n"
            "total=1000\r\n");

  server.cutAfter = std::string::npos;
  Attempt second = RunAttempt(files, server);
  EXPECT_EQ(second.from, 500u);
  EXPECT_EQ(server.lastRequest, L"Range: bytes=500-\r\nIf-Range: \"v1\"\r\n");
  EXPECT_TRUE(second.end.whole);
  EXPECT_EQ(second.end.written, 500u);
  EXPECT_EQ(files.Bytes(kPath), server.file);
  EXPECT_FALSE(files.Has(kPartial));
  EXPECT_FALSE(files.Has(kRecord));
}

// Whatever the server does after a cut, the installer's path only ever
// holds one whole file, never a splice of two.
TEST(ResumableTransfer, AfterACutEveryAnswerEndsInOneWholeFileOrStartsOver) {
  struct Case {
    const char* name;
    void (*change)(Server&);
    std::uint64_t written;  // by the second attempt
    bool whole;             // after the second attempt
  };
  const Case cases[] = {
      {"ranges", [](Server&) {}, 600, true},
      {"no ranges: the whole file again", [](Server& s) { s.ranges = false; }, 1000, true},
      {"the file changed: a new validator and new bytes",
       [](Server& s) {
         s.file = Content('K', 1200);
         s.etag = L"\"v2\"";
       },
       1200, true},
  };
  for (const Case& c : cases) {
    FakeTransferFiles files;
    Server server;
    server.cutAfter = 400;
    RunAttempt(files, server);
    c.change(server);
    server.cutAfter = std::string::npos;
    Attempt second = RunAttempt(files, server);
    EXPECT_EQ(second.from, 400u) << c.name;
    EXPECT_EQ(second.end.written, c.written) << c.name;
    EXPECT_EQ(second.end.whole, c.whole) << c.name;
    EXPECT_EQ(files.Bytes(kPath), server.file) << c.name;
    EXPECT_FALSE(files.Has(kPartial)) << c.name;
  }
}

TEST(ResumableTransfer,
     A416OrARangeThatDoesNotFitDropsThePartialFileAndTheNextAttemptStartsAtZero) {
  struct Case {
    const char* name;
    std::uint32_t status;
    const wchar_t* headers;
  };
  const Case cases[] = {
      {"416", 416, L"Content-Range: bytes */300\r\n"},
      {"206 from another byte", 206, L"Content-Range: bytes 0-999/1000\r\n"},
      {"206 of another total", 206, L"Content-Range: bytes 500-1499/1500\r\n"},
  };
  for (const Case& c : cases) {
    FakeTransferFiles files;
    RecordedLog lines;
    files.Put(kPartial, Content('a', 500));
    files.Put(kRecord, *FormatPartialRecord({kUrl, L"\"v1\"", 1000}));
    ResumableTransfer transfer(kUrl, kPath, files);
    EXPECT_EQ(transfer.Prepare(), 500u) << c.name;
    EXPECT_EQ(transfer.Response(c.status, c.headers), kResultAbort) << c.name;
    // The body, which Wine delivers even so, goes nowhere.
    const std::uint8_t byte = 'x';
    EXPECT_TRUE(transfer.Body(&byte, 1)) << c.name;
    AttemptEnd end = transfer.Finish(kResultOk);
    EXPECT_FALSE(end.whole) << c.name;
    EXPECT_EQ(end.kept, 0u) << c.name;
    EXPECT_EQ(end.flaw, L"the rest asked for did not come") << c.name;
    EXPECT_FALSE(files.Has(kPartial)) << c.name;
    EXPECT_FALSE(files.Has(kRecord)) << c.name;
    EXPECT_FALSE(files.Has(kPath)) << c.name;
    ResumableTransfer next(kUrl, kPath, files);
    EXPECT_EQ(next.Prepare(), 0u) << c.name;
    EXPECT_EQ(next.RequestHeaders(), L"") << c.name;
  }
}

TEST(ResumableTransfer, WithoutAStrongValidatorACutTransferStartsOverFromZero) {
  for (const wchar_t* etag : {L"W/\"v1\"", L""}) {
    FakeTransferFiles files;
    ResumableTransfer transfer(kUrl, kPath, files);
    transfer.Prepare();
    std::wstring headers = L"Content-Length: 1000\r\n";
    if (*etag != 0) headers += L"ETag: " + std::wstring(etag) + L"\r\n";
    EXPECT_EQ(transfer.Response(200, headers), kResultOk);
    const std::string half = Content('a', 500);
    transfer.Body(reinterpret_cast<const std::uint8_t*>(half.data()), half.size());
    AttemptEnd end = transfer.Finish(kCut);
    EXPECT_EQ(end.kept, 0u) << etag;
    EXPECT_FALSE(files.Has(kPartial)) << etag;
    EXPECT_FALSE(files.Has(kRecord)) << etag;
  }
}

TEST(ResumableTransfer, APartialFileThatCannotBeResumedIsDroppedBeforeTheRequest) {
  struct Case {
    const char* name;
    std::wstring url;       // of this launch
    std::uint64_t ageDays;  // of the partial file
    std::size_t size;       // of the partial file
    bool record;            // whether it has one
    const wchar_t* reason;  // null: resumed
  };
  const Case cases[] = {
      {"same URL, 6 days old", kUrl, 6, 500, true, nullptr},
      {"another URL (a policy's mirror)", L"http://mirror/TarnixSetup.exe", 0, 500, true,
       L"it came from another URL"},
      {"8 days old", kUrl, 8, 500, true, L"it is older than 7 days"},
      {"no record", kUrl, 0, 500, false, L"it has no record of its own"},
      {"longer than its total", kUrl, 0, 1001, true, L"it is longer than its total of 1000 bytes"},
  };
  for (const Case& c : cases) {
    FakeTransferFiles files;
    RecordedLog lines;
    files.Put(kPartial, Content('a', c.size), files.now - c.ageDays * FakeTransferFiles::kDay);
    if (c.record) files.Put(kRecord, *FormatPartialRecord({kUrl, L"\"v1\"", 1000}));
    ResumableTransfer transfer(c.url, kPath, files);
    const std::uint64_t from = transfer.Prepare();
    if (c.reason == nullptr) {
      EXPECT_EQ(from, c.size) << c.name;
      EXPECT_TRUE(files.Has(kPartial)) << c.name;
      continue;
    }
    // Emptied in place for this attempt's bytes, its record gone.
    EXPECT_EQ(from, 0u) << c.name;
    EXPECT_EQ(files.Bytes(kPartial), "") << c.name;
    EXPECT_FALSE(files.Has(kRecord)) << c.name;
    ASSERT_EQ(lines.With(L"dropped").size(), 1u) << c.name;
    EXPECT_EQ(lines.With(L"dropped")[0], L"download: partial file of " + std::to_wstring(c.size) +
                                             L" bytes dropped: " + c.reason)
        << c.name;
  }
}

TEST(ResumableTransfer, AWholePartialFileLeftByAStoppedLauncherIsMovedWithoutARequest) {
  FakeTransferFiles files;
  Server server;
  files.Put(kPartial, server.file);
  files.Put(kRecord, *FormatPartialRecord({kUrl, L"\"v1\"", 1000}));
  ResumableTransfer transfer(kUrl, kPath, files);
  EXPECT_EQ(transfer.Prepare(), 1000u);
  ASSERT_TRUE(transfer.AlreadyWhole());
  EXPECT_TRUE(transfer.Finish(kResultOk).whole);
  EXPECT_EQ(files.Bytes(kPath), server.file);
}

TEST(ResumableTransfer,
     TheMoveIntoPlaceIsRetriedWhileRefusedAndAFileThatStaysHeldIsKeptForTheNextAttempt) {
  // 120 tries 250 ms apart: 30 s, as long as the installer check waits for its open.
  for (int refused : {3, 120}) {
    FakeTransferFiles files;
    RecordedLog lines;
    Server server;
    files.movesRefused = refused;
    Attempt attempt = RunAttempt(files, server);
    const bool moved = refused < 120;
    EXPECT_EQ(attempt.end.whole, moved) << refused;
    for (std::uint32_t pause : files.pauses) EXPECT_EQ(pause, 250u);
    EXPECT_EQ(files.pauses.size(), static_cast<std::size_t>(moved ? refused : refused - 1));
    EXPECT_EQ(files.Has(kPath), moved) << refused;
    // Held for good: the whole partial file stays, with its record, and the
    // next attempt moves it without a request.
    EXPECT_EQ(files.Has(kPartial), !moved) << refused;
    if (!moved) {
      EXPECT_EQ(attempt.end.kept, 1000u);
      EXPECT_EQ(attempt.end.flaw,
                L"the whole file could not be moved to \"C:\\T\\TarnixSetup.exe\", error 32");
      const Attempt next = RunAttempt(files, server);
      EXPECT_TRUE(next.end.whole);
      EXPECT_TRUE(next.end.appended);  // put together earlier: checked as such
      EXPECT_EQ(files.Bytes(kPath), server.file);
    }
  }
  // Another error than a held file is not waited for.
  FakeTransferFiles files;
  Server server;
  files.movesRefused = 1;
  files.moveError = 3;  // ERROR_PATH_NOT_FOUND
  EXPECT_FALSE(RunAttempt(files, server).end.whole);
  EXPECT_TRUE(files.pauses.empty());
}

TEST(ResumableTransfer, APartialFileHeldByAnotherProgramIsWaitedForAndNeverDroppedForIt) {
  for (int refused : {5, 120}) {
    FakeTransferFiles files;
    RecordedLog lines;
    files.Put(kPartial, Content('a', 500));
    files.Put(kRecord, *FormatPartialRecord({kUrl, L"\"v1\"", 1000}));
    files.opensRefused = refused;
    ResumableTransfer transfer(kUrl, kPath, files);
    bool opened = true;
    const std::uint64_t from = transfer.Prepare(&opened);
    const bool waitedEnough = refused < 120;
    EXPECT_EQ(opened, waitedEnough) << refused;
    EXPECT_EQ(from, waitedEnough ? 500u : 0u) << refused;
    if (!waitedEnough) {
      const AttemptEnd end = transfer.Finish(kResultOk);
      EXPECT_EQ(end.flaw, L"the partial file cannot be opened");
      EXPECT_EQ(lines.With(L"cannot be opened, error 32").size(), 1u);
    }
    // What is there stays either way.
    EXPECT_EQ(files.Bytes(kPartial), Content('a', 500)) << refused;
    EXPECT_TRUE(files.Has(kRecord)) << refused;
  }
  // A refused access (a delete still pending clears at once; a read-only
  // folder never) is waited for only briefly.
  FakeTransferFiles files;
  files.opensRefused = 120;
  files.openError = kErrorAccessDenied;
  ResumableTransfer transfer(kUrl, kPath, files);
  bool opened = true;
  transfer.Prepare(&opened);
  EXPECT_FALSE(opened);
  EXPECT_EQ(files.pauses.size(), 7u);  // 8 tries: 2 s
}

TEST(ResumableTransfer, BodyBytesWithoutAResponseNeverPassForTheWholeFileAfterARangeRequest) {
  FakeTransferFiles files;
  files.Put(kPartial, Content('a', 500));
  files.Put(kRecord, *FormatPartialRecord({kUrl, L"\"v1\"", 1000}));
  ResumableTransfer transfer(kUrl, kPath, files);
  EXPECT_EQ(transfer.Prepare(), 500u);
  const std::string rest = Content('a', 1000).substr(500);
  EXPECT_TRUE(transfer.Body(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size()));
  const AttemptEnd end = transfer.Finish(kResultOk);
  EXPECT_FALSE(end.whole);
  EXPECT_FALSE(files.Has(kPath));
  EXPECT_FALSE(files.Has(kPartial));
}

TEST(ResumableTransfer, AWriteThatFailsAbortsTheBodyAndDropsThePartialFile) {
  FakeTransferFiles files;
  Server server;
  files.diskFullAt = 350;
  Attempt attempt = RunAttempt(files, server);
  EXPECT_FALSE(attempt.end.whole);
  EXPECT_EQ(attempt.end.flaw, L"the partial file could not be written");
  EXPECT_FALSE(files.Has(kPartial));
  EXPECT_FALSE(files.Has(kRecord));
}

TEST(ResumableTransfer, AnErrorStatusKeepsThePartialFileAndWritesNothingOfItsPage) {
  struct Case {
    std::uint32_t status;
    long answer;
  };
  // 401 and 407 may come again with the credentials of the system's prompt.
  const Case cases[] = {{404, kResultAbort},
                        {503, kResultAbort},
                        {401, kResultOk},
                        {407, kResultOk},
                        {302, kResultOk}};
  for (const Case& c : cases) {
    FakeTransferFiles files;
    files.Put(kPartial, Content('a', 500));
    files.Put(kRecord, *FormatPartialRecord({kUrl, L"\"v1\"", 1000}));
    ResumableTransfer transfer(kUrl, kPath, files);
    transfer.Prepare();
    EXPECT_EQ(transfer.Response(c.status, L"Content-Length: 9\r\n"), c.answer) << c.status;
    const std::string page = "<html/>";
    EXPECT_TRUE(transfer.Body(reinterpret_cast<const std::uint8_t*>(page.data()), page.size()));
    AttemptEnd end = transfer.Finish(kResultOk);
    EXPECT_FALSE(end.whole) << c.status;
    EXPECT_EQ(end.kept, 500u) << c.status;
    EXPECT_EQ(files.Bytes(kPartial), Content('a', 500)) << c.status;
    EXPECT_TRUE(files.Has(kRecord)) << c.status;
  }
}

TEST(ResumableTransfer, WithoutATotalOnlyTheTransfersResultTellsAWholeFile) {
  for (long result : {kResultOk, kCut}) {
    FakeTransferFiles files;
    ResumableTransfer transfer(kUrl, kPath, files);
    transfer.Prepare();
    transfer.Response(200, L"Transfer-Encoding: chunked\r\n");
    const std::string body = Content('a', 300);
    transfer.Body(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
    AttemptEnd end = transfer.Finish(result);
    EXPECT_EQ(end.whole, result == kResultOk);
    EXPECT_EQ(files.Has(kPath), result == kResultOk);
    EXPECT_FALSE(files.Has(kPartial));
  }
}

TEST(ResumableTransfer, ProgressCountsTheBytesAlreadyThereAfterAResumeAndNotAfterAWholeAnswer) {
  FakeTransferFiles files;
  files.Put(kPartial, Content('a', 600));
  files.Put(kRecord, *FormatPartialRecord({kUrl, L"\"v1\"", 1000}));
  ResumableTransfer resumed(kUrl, kPath, files);
  resumed.Prepare();
  EXPECT_EQ(resumed.KnownTotal(), 1000u);
  resumed.Response(206, L"Content-Range: bytes 600-999/1000\r\nContent-Length: 400\r\n");
  TransferSink::FileProgress progress = resumed.Progress(100, 400);
  EXPECT_EQ(progress.received, 700u);
  EXPECT_EQ(progress.total, 1000u);
  // The server sent the whole file instead: the bar starts again.
  resumed.Response(200, L"Content-Length: 1000\r\nETag: \"v2\"\r\n");
  progress = resumed.Progress(100, 1000);
  EXPECT_EQ(progress.received, 100u);
  EXPECT_EQ(progress.total, 1000u);
}

}  // namespace
}  // namespace tarnix
