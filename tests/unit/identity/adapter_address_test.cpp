#include "identity/adapter_address.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_registry.h"

namespace tarnix {
namespace {

using ::testing::ElementsAre;
using testing::FakeRegistry;
using testing::WidenAscii;

// ---------------------------------------------------------------------------
// Fakes

struct FakeAdapter {
  std::string name;
  std::uint32_t type;
  AdapterAddress address;
};

constexpr ModuleHandle kModule = 0x7100;
constexpr ProcAddress kGetAdaptersInfo = 0x7188;
constexpr std::uint32_t kBufferOverflow = 111;  // ERROR_BUFFER_OVERFLOW

// The adapter list of the platform, written in `layout` with Next pointers
// into the caller's buffer; records go into the buffer in `slots` order.
class FakeAdapterList final : public AdapterList {
 public:
  explicit FakeAdapterList(const AdapterInfoLayout& layout) : layout_(layout) {}

  std::wstring systemDirectory = L"C:\\WINDOWS\\system32";
  bool loads = true;
  bool exports = true;
  std::uint32_t result = 0;  // a failure other than an overflow, answered to every call
  // Sizes answered with an overflow to the first calls, whatever was offered
  // (the list growing between the calls); later calls see the adapters.
  std::vector<std::uint32_t> askedSizes;
  std::vector<FakeAdapter> adapters;
  std::vector<std::size_t> slots;  // buffer slot of each adapter; default in order

  std::vector<std::wstring> loadedPaths;
  std::vector<std::string> exportNames;
  std::vector<std::uint32_t> bufferSizes;
  int releases = 0;

  std::uint32_t SystemDirectory(wchar_t* buffer, std::uint32_t size) override {
    EXPECT_EQ(size, 260u);
    for (wchar_t* p = buffer; p != buffer + size; ++p) EXPECT_EQ(*p, L'\0');
    std::copy(systemDirectory.begin(), systemDirectory.end(), buffer);
    return static_cast<std::uint32_t>(systemDirectory.size());
  }
  ModuleHandle LoadModule(const std::wstring& path) override {
    loadedPaths.push_back(path);
    return loads ? kModule : 0;
  }
  ProcAddress FindExport(ModuleHandle module, const char* name) override {
    EXPECT_EQ(module, kModule);
    exportNames.push_back(name);
    return exports ? kGetAdaptersInfo : 0;
  }
  std::uint32_t GetAdaptersInfo(ProcAddress proc, std::uint8_t* buffer,
                                std::uint32_t* size) override {
    EXPECT_EQ(proc, kGetAdaptersInfo);
    bufferSizes.push_back(*size);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 8, 0u) << "records hold 64-bit fields";
    if (result != 0) return result;
    if (bufferSizes.size() <= askedSizes.size()) {
      *size = askedSizes[bufferSizes.size() - 1];
      return kBufferOverflow;
    }
    // As the system does: the whole list or nothing, with the size it needs.
    if (*size < Needed()) {
      *size = Needed();
      return kBufferOverflow;
    }
    auto base = reinterpret_cast<std::uintptr_t>(buffer);
    for (std::size_t i = 0; i < adapters.size(); ++i) {
      std::uint8_t* record = buffer + Slot(i) * layout_.recordSize;
      std::uint64_t next = i + 1 < adapters.size() ? base + Slot(i + 1) * layout_.recordSize : 0;
      for (std::size_t b = 0; b < layout_.pointerSize; ++b) {
        record[b] = static_cast<std::uint8_t>(next >> (8 * b));
      }
      std::memcpy(record + layout_.nameOffset, adapters[i].name.c_str(),
                  adapters[i].name.size() + 1);
      std::memcpy(record + layout_.addressOffset, adapters[i].address.data(), 6);
      record[layout_.addressOffset + 6] = 0xEE;  // bytes 7 and 8 of Address are not taken
      record[layout_.addressOffset + 7] = 0xEE;
      for (std::size_t b = 0; b < 4; ++b) {
        record[layout_.typeOffset + b] = static_cast<std::uint8_t>(adapters[i].type >> (8 * b));
      }
    }
    return 0;
  }
  void ReleaseModule(ModuleHandle module) override {
    EXPECT_EQ(module, kModule);
    ++releases;
  }

 private:
  std::size_t Slot(std::size_t i) const { return slots.empty() ? i : slots[i]; }
  std::uint32_t Needed() const {
    std::size_t records = 0;
    for (std::size_t i = 0; i < adapters.size(); ++i) records = std::max(records, Slot(i) + 1);
    return static_cast<std::uint32_t>(records * layout_.recordSize);
  }
  const AdapterInfoLayout& layout_;
};

struct Connection {
  std::optional<std::uint32_t> mediaSubType;
  std::optional<std::string> pnpInstanceId;
};

// Writes the Connection subkey of `adapterName` below the network class key.
void AddConnection(FakeRegistry& registry, const std::string& adapterName,
                   const Connection& connection) {
  std::wstring path =
      WidenAscii(kNetworkClassKey) + L"\\" + WidenAscii(adapterName) + L"\\Connection";
  registry.AddKey(RegistryHive::LocalMachine, path);
  if (connection.mediaSubType) {
    std::vector<std::uint8_t> bytes(4);
    for (std::size_t b = 0; b < 4; ++b)
      bytes[b] = static_cast<std::uint8_t>(*connection.mediaSubType >> (8 * b));
    registry.SetBytes(RegistryHive::LocalMachine, path, L"MediaSubType", bytes);
  }
  if (connection.pnpInstanceId) {
    registry.SetNarrowString(RegistryHive::LocalMachine, path, L"PnpInstanceID",
                             *connection.pnpInstanceId);
  }
}

// Registry entries that give each connection class.
const Connection kClass0{1, "PCI\\VEN_8086&DEV_100E\\3&1"};
const Connection kClass1{2, "PCI\\VEN_168C&DEV_002B\\4&2"};
const Connection kClass2{1, "USB\\VID_0B95&PID_7720\\5&3"};
const Connection kClass3{5, "PCI\\VEN_1234\\6&4"};

constexpr std::uint32_t kOtherType = 71;  // IF_TYPE_IEEE80211: neither Ethernet nor PPP

AdapterAddress Address(std::uint8_t last) { return {0x00, 0x1c, 0x42, 0x10, 0x20, last}; }
constexpr AdapterAddress kZero{};

// ---------------------------------------------------------------------------
// Connection class

struct ClassCase {
  const char* what;
  Connection connection;
  int expected;
};

TEST(ClassifyAdapterConnection, RanksByMediaAndBus) {
  const ClassCase kCases[] = {
      {"wired on PCI", kClass0, 0},
      {"wireless", kClass1, 1},
      {"wired elsewhere", kClass2, 2},
      {"lower-case pci is not PCI", {1, "pci\\ven_8086"}, 2},
      {"other media", kClass3, 3},
      {"no MediaSubType", {std::nullopt, "PCI\\X"}, 3},
      {"no PnpInstanceID", {1, std::nullopt}, 3},
      {"wireless without PnpInstanceID", {2, std::nullopt}, 3},
      {"PnpInstanceID too long for 259 bytes", {1, "PCI" + std::string(256, 'x')}, 3},
      {"PnpInstanceID of 258 bytes", {1, "PCI" + std::string(255, 'x')}, 0},
  };
  for (const ClassCase& c : kCases) {
    FakeRegistry registry;
    AddConnection(registry, "{GUID}", c.connection);
    EXPECT_EQ(ClassifyAdapterConnection(registry, "{GUID}"), c.expected) << c.what;
    EXPECT_TRUE(registry.AllClosed()) << c.what;
    EXPECT_EQ(registry.closes.size(), 2u) << c.what;
  }
}

TEST(ClassifyAdapterConnection, ReadsTheConnectionSubkeyBelowTheClassKeyWith8BitCalls) {
  FakeRegistry registry;
  AddConnection(registry, "{A}", kClass0);
  EXPECT_EQ(ClassifyAdapterConnection(registry, "{A}"), 0);

  ASSERT_EQ(registry.opens.size(), 2u);
  const FakeRegistry::OpenCall& classKey = registry.opens[0];
  const FakeRegistry::OpenCall& subkey = registry.opens[1];
  EXPECT_EQ(classKey.parent, RegistryParent(RegistryHive::LocalMachine));
  EXPECT_EQ(classKey.path, WidenAscii(kNetworkClassKey));
  EXPECT_EQ(subkey.parent, RegistryParent(classKey.key));
  EXPECT_EQ(subkey.path, L"{A}\\Connection");
  for (const FakeRegistry::OpenCall& open : registry.opens) {
    EXPECT_EQ(open.access, 0x20019u);  // KEY_READ
    EXPECT_TRUE(open.narrow);
  }

  ASSERT_EQ(registry.queries.size(), 2u);
  EXPECT_EQ(registry.queries[0].name, L"MediaSubType");
  EXPECT_EQ(registry.queries[0].offered, 4u);
  EXPECT_EQ(registry.queries[1].name, L"PnpInstanceID");
  EXPECT_EQ(registry.queries[1].offered, 259u);
  for (const FakeRegistry::QueryCall& query : registry.queries) {
    EXPECT_EQ(query.key, subkey.key);
    EXPECT_TRUE(query.narrow);
  }
  EXPECT_THAT(registry.closes, ElementsAre(subkey.key, classKey.key));  // subkey first
}

TEST(ClassifyAdapterConnection, MissingKeysGiveClass3AndCloseWhatWasOpened) {
  FakeRegistry noClassKey;
  EXPECT_EQ(ClassifyAdapterConnection(noClassKey, "{A}"), 3);
  EXPECT_TRUE(noClassKey.closes.empty());

  FakeRegistry noSubkey;
  noSubkey.AddKey(RegistryHive::LocalMachine, WidenAscii(kNetworkClassKey));
  EXPECT_EQ(ClassifyAdapterConnection(noSubkey, "{A}"), 3);
  ASSERT_EQ(noSubkey.opens.size(), 2u);
  EXPECT_THAT(noSubkey.closes, ElementsAre(noSubkey.opens[0].key));
  EXPECT_TRUE(noSubkey.AllClosed());
}

// ---------------------------------------------------------------------------
// Adapter list, in both platform layouts

class AdapterListTest : public ::testing::TestWithParam<const AdapterInfoLayout*> {
 protected:
  const AdapterInfoLayout& Layout() const { return *GetParam(); }
  bool Read(AdapterAddress& address) {
    bool found = ReadAdapterAddressFromList(list, registry, address, Layout());
    EXPECT_TRUE(registry.AllClosed());
    EXPECT_EQ(list.releases, list.loadedPaths.size() == 1 && list.loads ? 1 : 0);
    return found;
  }
  void Add(const std::string& name, std::uint32_t type, const Connection& connection,
           AdapterAddress address) {
    list.adapters.push_back({name, type, address});
    AddConnection(registry, name, connection);
  }
  FakeAdapterList list{Layout()};
  FakeRegistry registry;
};

struct RankedAdapter {
  std::uint32_t type;
  Connection connection;
  AdapterAddress address;
};

struct RankingCase {
  const char* what;
  std::vector<RankedAdapter> adapters;
  AdapterAddress expected;
};

TEST_P(AdapterListTest, RanksTheAdaptersInListOrder) {
  const RankingCase kCases[] = {
      {"the first adapter is the default, whatever its type",
       {{kOtherType, kClass3, Address(1)}, {6, kClass3, Address(2)}, {23, kClass3, Address(3)}},
       Address(1)},
      {"a later Ethernet adapter of a better class replaces it",
       {{6, kClass2, Address(1)}, {6, kClass0, Address(2)}},
       Address(2)},
      {"among equal classes the earlier stays",
       {{6, kClass0, Address(1)}, {6, kClass0, Address(2)}},
       Address(1)},
      {"an equal class does not replace",
       {{6, kClass3, Address(1)}, {6, kClass3, Address(2)}},
       Address(1)},
      {"a better class of another type does not replace",
       {{6, kClass3, Address(1)}, {kOtherType, kClass0, Address(2)}},
       Address(1)},
      {"PPP counts like Ethernet",
       {{6, kClass2, Address(1)}, {23, kClass1, Address(2)}},
       Address(2)},
      {"a better class after a better one",
       {{6, kClass3, Address(1)},
        {6, kClass1, Address(2)},
        {6, kClass2, Address(3)},
        {6, kClass0, Address(4)}},
       Address(4)},
      {"a zero address leaves the next adapter to be taken whatever it is",
       {{6, kClass0, kZero}, {kOtherType, kClass3, Address(2)}, {6, kClass2, Address(3)}},
       Address(3)},
      {"the best class is remembered with the zero address",
       {{6, kClass1, kZero}, {kOtherType, kClass3, Address(2)}, {6, kClass2, Address(3)}},
       Address(3)},
  };
  for (const RankingCase& c : kCases) {
    FakeAdapterList fakeList(Layout());
    FakeRegistry fakeRegistry;
    for (std::size_t i = 0; i < c.adapters.size(); ++i) {
      std::string name = "{ADAPTER-" + std::to_string(i) + "}";
      fakeList.adapters.push_back({name, c.adapters[i].type, c.adapters[i].address});
      AddConnection(fakeRegistry, name, c.adapters[i].connection);
    }
    AdapterAddress address{};
    EXPECT_EQ(ReadAdapterAddressFromList(fakeList, fakeRegistry, address, Layout()), true)
        << c.what;
    EXPECT_EQ(address, c.expected) << c.what;
    // Every record is classified, chosen or not.
    EXPECT_EQ(fakeRegistry.opens.size(), 2 * c.adapters.size()) << c.what;
    EXPECT_TRUE(fakeRegistry.AllClosed()) << c.what;
  }
}

TEST_P(AdapterListTest, LoadsTheLibraryFromTheSystemDirectoryAndFreesIt) {
  Add("{A}", 6, kClass0, Address(1));
  AdapterAddress address{};
  EXPECT_TRUE(Read(address));
  EXPECT_EQ(address, Address(1));
  EXPECT_THAT(list.loadedPaths, ElementsAre(L"C:\\WINDOWS\\system32\\iphlpapi.dll"));
  EXPECT_THAT(list.exportNames, ElementsAre("GetAdaptersInfo"));
  EXPECT_THAT(list.bufferSizes, ElementsAre(16 * Layout().recordSize));
}

TEST_P(AdapterListTest, BuildsTheLibraryPathFromAnyDirectory) {
  const std::pair<std::wstring, std::wstring> kCases[] = {
      {L"C:\\", L"C:\\iphlpapi.dll"},
      {L"", L"iphlpapi.dll"},
      {std::wstring(250, L'd'), (std::wstring(250, L'd') + L"\\iphlpapi.dll").substr(0, 259)},
  };
  for (const auto& [directory, path] : kCases) {
    FakeAdapterList fake(Layout());
    fake.systemDirectory = directory;
    fake.loads = false;
    AdapterAddress address{};
    EXPECT_FALSE(ReadAdapterAddressFromList(fake, registry, address, Layout()));
    EXPECT_THAT(fake.loadedPaths, ElementsAre(path));
    EXPECT_EQ(fake.releases, 0);
  }
}

TEST_P(AdapterListTest, FailuresLeaveTheAddressZeroAndFreeTheLibrary) {
  Add("{A}", 6, kClass0, Address(1));
  AdapterAddress address{};

  list.exports = false;
  EXPECT_FALSE(Read(address));
  EXPECT_TRUE(list.bufferSizes.empty());

  // Any failure but an overflow: no record is looked at, no second call.
  FakeAdapterList failing(Layout());
  failing.result = 232;  // ERROR_NO_DATA
  EXPECT_FALSE(ReadAdapterAddressFromList(failing, registry, address, Layout()));
  EXPECT_EQ(failing.bufferSizes.size(), 1u);
  EXPECT_EQ(failing.releases, 1);
  EXPECT_TRUE(registry.opens.empty());
  EXPECT_EQ(address, kZero);
}

// Virtual adapters add up: a list of more than 16 records is read again into
// the size the call asks for, and the adapter after the 16th can win.
TEST_P(AdapterListTest, ListLongerThan16RecordsIsReadAgainIntoTheSizeItAsksFor) {
  const auto room16 = static_cast<std::uint32_t>(16 * Layout().recordSize);
  const auto room20 = static_cast<std::uint32_t>(20 * Layout().recordSize);
  const std::uint32_t kBound = 1u << 20;
  struct Case {
    const char* what;
    std::vector<std::uint32_t> askedSizes;
    std::vector<std::uint32_t> offered;  // the size offered to each call
    bool ranked;
  } cases[] = {
      {"overflows once, then fits", {}, {room16, room20}, true},
      {"grows between the calls, then fits",
       {room16 + 8, room20 - 8},
       {room16, room16 + 8, room20 - 8, room20},
       true},
      {"asks for exactly the bound", {kBound}, {room16, kBound}, true},
      {"keeps overflowing",
       {room20, room20 + 1, room20 + 2, room20 + 3, room20 + 4},
       {room16, room20, room20 + 1, room20 + 2},
       false},
      {"asks for more than the bound", {kBound + 1}, {room16}, false},
      {"asks for no more than it was given", {room16}, {room16}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeAdapterList fakeList(Layout());
    FakeRegistry fakeRegistry;
    for (std::uint8_t i = 0; i < 20; ++i) {
      std::string name = "{ADAPTER-" + std::to_string(i) + "}";
      fakeList.adapters.push_back({name, 6, Address(i)});
      AddConnection(fakeRegistry, name, i == 18 ? kClass0 : kClass3);
    }
    fakeList.askedSizes = c.askedSizes;
    AdapterAddress address{};
    EXPECT_EQ(ReadAdapterAddressFromList(fakeList, fakeRegistry, address, Layout()), c.ranked);
    EXPECT_EQ(address, c.ranked ? Address(18) : kZero);
    EXPECT_EQ(fakeList.bufferSizes, c.offered);
    EXPECT_EQ(fakeList.releases, 1);
    // A list that was not read is not ranked: nothing is looked up.
    EXPECT_EQ(fakeRegistry.opens.size(), c.ranked ? 40u : 0u);
  }
}

TEST_P(AdapterListTest, FollowsTheChainWhereverTheRecordsLie) {
  Add("{A}", kOtherType, kClass3, Address(1));
  Add("{B}", 6, kClass2, Address(2));
  Add("{C}", 6, kClass0, Address(3));
  list.slots = {0, 15, 7};
  AdapterAddress address{};
  EXPECT_TRUE(Read(address));
  EXPECT_EQ(address, Address(3));
}

INSTANTIATE_TEST_SUITE_P(Layouts, AdapterListTest,
                         ::testing::Values(&kAdapterInfoLayout32, &kAdapterInfoLayout64),
                         [](const ::testing::TestParamInfo<const AdapterInfoLayout*>& param) {
                           return param.param->pointerSize == 4 ? std::string("i686")
                                                                : std::string("x86_64");
                         });

TEST(ParseAdapterRecords, StopsAtPointersOutsideTheBufferAndAtLoops) {
  const AdapterInfoLayout& layout = kAdapterInfoLayout32;
  std::vector<std::uint8_t> buffer(4 * layout.recordSize, 0);
  const std::uint64_t base = 0x00400000;
  auto link = [&](std::size_t from, std::uint64_t to) {
    for (std::size_t b = 0; b < 4; ++b) {
      buffer[from * layout.recordSize + b] = static_cast<std::uint8_t>(to >> (8 * b));
    }
  };
  link(0, base + layout.recordSize);
  link(1, base + buffer.size());  // past the end
  EXPECT_EQ(ParseAdapterRecords(buffer, base, layout).size(), 2u);

  link(1, base - 8);  // before the start
  EXPECT_EQ(ParseAdapterRecords(buffer, base, layout).size(), 2u);

  link(1, base);  // back to the first record
  EXPECT_EQ(ParseAdapterRecords(buffer, base, layout).size(), 4u);

  // The last record's fields end inside the buffer: a record may start there.
  link(1, base + buffer.size() - (layout.typeOffset + 4));
  EXPECT_EQ(ParseAdapterRecords(buffer, base, layout).size(), 3u);
  link(1, base + buffer.size() - (layout.typeOffset + 3));
  EXPECT_EQ(ParseAdapterRecords(buffer, base, layout).size(), 2u);

  EXPECT_TRUE(ParseAdapterRecords(std::span(buffer).first(100), base, layout).empty());
}

TEST(ParseAdapterRecords, ReadsNameAddressAndType) {
  const AdapterInfoLayout& layout = kAdapterInfoLayout64;
  std::vector<std::uint8_t> buffer(layout.recordSize, 0);
  std::memcpy(&buffer[layout.nameOffset], "{NAME}", 7);
  buffer[layout.addressOffset] = 0xAA;
  buffer[layout.addressOffset + 5] = 0xBB;
  buffer[layout.addressOffset + 6] = 0xCC;
  buffer[layout.typeOffset] = 23;
  std::fill_n(&buffer[layout.nameOffset + 7], kAdapterNameSize - 7, 'x');  // no zero after
  auto records = ParseAdapterRecords(buffer, 0x1000, layout);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, "{NAME}");
  EXPECT_EQ(records[0].address, (AdapterAddress{0xAA, 0, 0, 0, 0, 0xBB}));
  EXPECT_EQ(records[0].type, 23u);

  std::fill_n(&buffer[layout.nameOffset], kAdapterNameSize, 'n');  // a name without its zero
  EXPECT_EQ(ParseAdapterRecords(buffer, 0x1000, layout)[0].name, std::string(260, 'n'));
}

// ---------------------------------------------------------------------------
// NetBIOS

struct Lana {
  std::uint8_t number;
  std::uint8_t resetResult;
  std::uint8_t statusResult;
  AdapterAddress address;
};

struct NetbiosCall {
  std::uint8_t command;
  std::uint8_t lana;
  bool hasBuffer;
  std::uint16_t length;
  std::array<std::uint8_t, 16> callName;
};

class FakeNetbiosDriver final : public NetbiosDriver {
 public:
  std::uint8_t enumResult = 0;
  std::vector<Lana> lanas;
  std::vector<NetbiosCall> calls;

  std::uint8_t Netbios(NetbiosRequest& r) override {
    calls.push_back({r.command, r.lanaNumber, r.buffer != nullptr, r.length, r.callName});
    if (r.command == kNcbEnum) {
      EXPECT_EQ(r.length, 256);
      for (int i = 0; i < 256; ++i) EXPECT_EQ(r.buffer[i], 0);
      if (enumResult != 0) return enumResult;
      r.buffer[0] = static_cast<std::uint8_t>(lanas.size());
      for (std::size_t i = 0; i < lanas.size(); ++i) r.buffer[1 + i] = lanas[i].number;
      return 0;
    }
    const Lana& lana = Find(r.lanaNumber);
    if (r.command == kNcbReset) return lana.resetResult;
    EXPECT_EQ(r.length, 600);
    for (int i = 0; i < 600; ++i) EXPECT_EQ(r.buffer[i], 0);
    if (lana.statusResult != 0) return lana.statusResult;
    std::memcpy(r.buffer, lana.address.data(), 6);
    r.buffer[6] = 0x77;  // jumpers and the rest of ADAPTER_STATUS
    return 0;
  }

  std::vector<std::uint8_t> LanasAsked(std::uint8_t command) const {
    std::vector<std::uint8_t> found;
    for (const NetbiosCall& c : calls)
      if (c.command == command) found.push_back(c.lana);
    return found;
  }

 private:
  const Lana& Find(std::uint8_t number) const {
    for (const Lana& l : lanas)
      if (l.number == number) return l;
    ADD_FAILURE() << "unknown LAN adapter " << int{number};
    return lanas.front();
  }
};

TEST(ReadAdapterAddressFromNetbios, AsksFromTheLastLanAdapterToTheFirst) {
  FakeNetbiosDriver netbios;
  netbios.lanas = {{0, 0, 0, Address(0)}, {3, 0, 0, Address(3)}};
  AdapterAddress address{};
  EXPECT_TRUE(ReadAdapterAddressFromNetbios(netbios, address));
  EXPECT_EQ(address, Address(3));

  const std::array<std::uint8_t, 16> none{};
  std::array<std::uint8_t, 16> star{};
  star[0] = '*';
  ASSERT_EQ(netbios.calls.size(), 3u);
  auto expectCall = [](const NetbiosCall& call, std::uint8_t command, std::uint8_t lana,
                       bool hasBuffer, std::uint16_t length,
                       const std::array<std::uint8_t, 16>& name) {
    EXPECT_EQ(call.command, command);
    EXPECT_EQ(call.lana, lana);
    EXPECT_EQ(call.hasBuffer, hasBuffer);
    EXPECT_EQ(call.length, length);
    EXPECT_EQ(call.callName, name);
  };
  expectCall(netbios.calls[0], 0x37, 0, true, 256, none);
  expectCall(netbios.calls[1], 0x32, 3, false, 0, none);
  expectCall(netbios.calls[2], 0x33, 3, true, 600, star);
}

TEST(ReadAdapterAddressFromNetbios, MovesOnPastFailuresAndZeroAddresses) {
  FakeNetbiosDriver netbios;
  netbios.lanas = {
      {0, 0, 0, Address(0)}, {1, 0, 0, kZero}, {2, 0, 0x14, Address(2)}, {5, 0x23, 0, Address(5)}};
  AdapterAddress address{};
  EXPECT_TRUE(ReadAdapterAddressFromNetbios(netbios, address));
  EXPECT_EQ(address, Address(0));
  EXPECT_THAT(netbios.LanasAsked(kNcbReset), ElementsAre(5, 2, 1, 0));
  EXPECT_THAT(netbios.LanasAsked(kNcbAstat), ElementsAre(2, 1, 0));
}

TEST(ReadAdapterAddressFromNetbios, FailsWhenNoAdapterHasAnAddress) {
  FakeNetbiosDriver zeros;
  zeros.lanas = {{0, 0, 0, kZero}, {1, 0, 0, kZero}};
  AdapterAddress address{};
  EXPECT_FALSE(ReadAdapterAddressFromNetbios(zeros, address));
  EXPECT_EQ(address, kZero);
  EXPECT_THAT(zeros.LanasAsked(kNcbAstat), ElementsAre(1, 0));

  FakeNetbiosDriver empty;
  EXPECT_FALSE(ReadAdapterAddressFromNetbios(empty, address));
  EXPECT_EQ(empty.calls.size(), 1u);

  FakeNetbiosDriver refused;
  refused.enumResult = 0x40;
  refused.lanas = {{0, 0, 0, Address(0)}};
  EXPECT_FALSE(ReadAdapterAddressFromNetbios(refused, address));
  EXPECT_EQ(refused.calls.size(), 1u);
  EXPECT_EQ(address, kZero);
}

}  // namespace
}  // namespace tarnix
