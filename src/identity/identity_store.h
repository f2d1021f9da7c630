#pragma once
// The identity store: the file "Global.db" below "\Korvane\Common" in an
// application-data folder, which keeps the machine identity from run to run
// and binds it to a hash of the adapter text and of the disk serial text.
//
// All file-system access goes through StoreFileSystem (identity_store_io.h).
// The record's layout is in identity_store_record.h, the store's place in
// identity_store_path.h; the look-up is in identity_store.cpp, the write in
// identity_store_write.cpp.

#include <cstdint>
#include <string_view>

#include "identity/identity_store_io.h"
#include "identity/identity_store_path.h"
#include "identity/identity_store_record.h"
#include "identity/identity_types.h"

namespace tarnix {

// A writer's own files beside the store: "Global.db." + its unique part
// (process id, thread id and attempt, 8 hexadecimal digits each:
// "00000f3c-00000a10-00000000")
// + ".tmp" for the record on its way, ".bak" for the replaced store.
inline constexpr wchar_t kStoreTempSuffix[] = L".tmp";
inline constexpr wchar_t kStoreBackupSuffix[] = L".bak";
// Names tried for the temporary file before the write goes in place.
inline constexpr std::uint32_t kStoreTempNameAttempts = 8;
// A writer's file older than this (100 ns units: one day) is a killed
// writer's leftover, which the next writer removes (a backup only while a
// store stands).
inline constexpr std::uint64_t kStoreLeftoverAge = 24ull * 60 * 60 * 10'000'000;
// A replace refused with a sharing violation (a scanner holding the fresh
// temporary file) is tried again this many times, this long apart, before
// the record is written in place.
inline constexpr std::uint32_t kStoreReplaceRetries = 5;
inline constexpr std::uint32_t kStoreReplaceRetryPauseMs = 500;
// A store that another process holds without sharing reading (a launcher
// writing it in place, a scanner) or with a locked range is read again this
// many times, this long apart, before the read gives up as held.
inline constexpr std::uint32_t kStoreHeldReadRetries = 4;
inline constexpr std::uint32_t kStoreHeldReadRetryPauseMs = 250;

// What a look-up in the store found.
enum class StoreLookup {
  Found,     // a record gave the identity
  NotFound,  // no store, no whole record, or a record of other hardware: a new identity is stored
  Held,      // the store (or the backup to put back) was held by another process throughout the
             // read's retries, or could not be read for a reason other than its absence (access
             // denied, a network error): its record is unknown, so nothing may be written over it
};

// Looks the identity up in the store. Returns Found and fills `identity` (and
// `*accepted`, when given, with the record as read) when a version-2 record
// matches at least one binding, or a version-1 record was read;
// `mustRewrite` is then set for a version-1 record and for one read from the
// copy of a cut rewrite. Otherwise leaves `identity` and `*accepted`
// untouched. `mustRewrite` is cleared at entry. Only a file (or folder) that
// is not there counts as missing, and a folder that cannot be searched
// (access denied on an offline redirected folder, a network error) gives
// Held as an unreadable store does. An open or read refused with a sharing
// or lock violation is tried again kStoreHeldReadRetries times,
// kStoreHeldReadRetryPauseMs apart; still refused, or refused for any other
// reason, the result is Held. Where no file stands at a store's path but a
// writer's backup of it holds a whole record (a writer cut between the two
// renames of its replace), the newest such backup is first moved back into
// place, never over a store that another launcher has put there meanwhile (a
// backup that this account may read but not rename, such as another user's
// in the common folder, is copied into place instead and left). The record
// of a per-user file with no common file beside it is then copied to the
// common place, never over a common store that another launcher has put
// there meanwhile; whatever stands there then counts, and the per-user file
// is deleted once this launcher's copy stands; a per-user file gone meanwhile
// (another launcher moved it) sends the read back to the common place. The
// store is opened sharing reading and deletion, so another process may
// replace it meanwhile.
StoreLookup ReadIdentityStore(StoreFileSystem& files, std::string_view adapterText,
                              std::string_view diskSerial, MachineId& identity, bool& mustRewrite,
                              StoreRecord* accepted = nullptr);

// Writes a version-2 record to the common place, or to the per-user place
// when the common file can be neither replaced nor written. The record goes
// to a temporary file of this writer's own (a unique name, made with
// CREATE_NEW, beside the store) first, which then replaces the store file in
// one step with ReplaceFileW and a backup name of its own (keeping an
// existing file's owner, access rights and attributes), so a write that fails
// part-way leaves the previous file as it was and two writers at once never
// touch each other's files. A replacement that fails part-way is completed
// with a move; where it is refused (no right to delete the store, no right to
// create files beside it), the record is written over the store file in
// place, without truncating it: a copy of the new record after the old one
// first, then the rewrite mark in the version, the record, and the version
// last, each step flushed, so that a write cut anywhere leaves the old record
// or the new one (a store whose earlier rewrite was cut is first completed
// from its copy); a replace refused with a sharing violation is first tried
// again for a few seconds. No temporary or backup file is left behind while
// the record stands, and the writer's files of the store older than a day
// (of a killed writer) are removed, a backup only while a store stands.
// Returns true only when the whole record is in place; false also when
// another process holds the store open while the record would be written in
// place.
bool WriteIdentityStore(StoreFileSystem& files, std::string_view diskSerial,
                        std::string_view adapterText, const MachineId& identity);

// Writes the version-2 `record` as it stands, its bindings included, the same
// way: what completes a cut rewrite read from its copy, so that the record
// keeps the bindings it was accepted on. False, writing nothing, for a record
// of another version.
bool WriteIdentityStore(StoreFileSystem& files, const StoreRecord& record);

}  // namespace tarnix
