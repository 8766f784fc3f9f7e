// The phone's messaging store as programs see it: the subset of the
// messaging interface (MAPI) that the device's "cemapi.dll" offers, and the
// rule-client interface the messaging service calls for each incoming SMS.
//
// The store holds one message store named "SMS" with an Inbox and a Sent
// Items folder below its root folder. A program loads "cemapi.dll" with
// Library::Load, finds the entry points below by name (kMapi*Name), calls
// MAPIInitialize and MAPILogonEx, and works through the interfaces. The
// layouts and the device.db tables are in docs/formats/message-store.md.
//
// Interfaces follow the component model of platform/com.h: abstract classes
// whose first three slots are QueryInterface, AddRef and Release, no virtual
// destructors; every object is released with Release. Structures keep the
// platform's own field names (ulPropTag, lpProps, cRows...) so that code
// reads as it would on the phone.
//
// Memory: every buffer the store returns (the property arrays of GetProps,
// the row sets of QueryRows and their rows) belongs to the caller and is
// freed with MAPIFreeBuffer, a row set with FreeProws, both taken from the
// same loaded library. Each property array is one buffer: its strings and
// binary values live inside it and go with it. Nothing is freed across
// libraries by any other means.
//
// Strings are always UTF-16 (PT_UNICODE); MAPI_UNICODE is accepted where
// the platform takes flags and changes nothing. Flags this store does not
// act on (access hints, dialogs, deferred errors) are accepted and ignored.
//
// Threads: objects may be used from any thread, one call at a time per
// object; reference counts are atomic. Several processes may use the store
// at once (device.db serialises them).
#ifndef TELVANE_PLATFORM_MAPI_H_
#define TELVANE_PLATFORM_MAPI_H_

#include <cstddef>
#include <cstdint>

#include "platform/com.h"
#include "platform/time.h"

namespace platform {

using LONG = int32_t;
using BYTE = uint8_t;

// ---------------------------------------------------------------- results

// A warning (success): some requested properties or entries came back as
// errors; see the PT_ERROR values or the call's comment.
inline constexpr HRESULT MAPI_W_ERRORS_RETURNED =
    static_cast<HRESULT>(0x00040380);
inline constexpr HRESULT MAPI_W_PARTIAL_COMPLETION =
    static_cast<HRESULT>(0x00040680);
inline constexpr HRESULT MAPI_E_CALL_FAILED = E_FAIL;
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = E_OUTOFMEMORY;
inline constexpr HRESULT MAPI_E_INVALID_PARAMETER = E_INVALIDARG;
inline constexpr HRESULT MAPI_E_INTERFACE_NOT_SUPPORTED = E_NOINTERFACE;
inline constexpr HRESULT MAPI_E_INVALID_ENTRYID =
    static_cast<HRESULT>(0x80040107);
inline constexpr HRESULT MAPI_E_NOT_FOUND = static_cast<HRESULT>(0x8004010F);
inline constexpr HRESULT MAPI_E_END_OF_SESSION =
    static_cast<HRESULT>(0x80040200);
inline constexpr HRESULT MAPI_E_INVALID_TYPE = static_cast<HRESULT>(0x80040302);
inline constexpr HRESULT MAPI_E_NOT_INITIALIZED =
    static_cast<HRESULT>(0x80040605);

// ---------------------------------------------------------------- properties

// A property tag: the property's identifier in the high 16 bits, its type
// in the low 16 bits.
inline constexpr ULONG PROP_TAG(ULONG type, ULONG id) {
  return (id << 16) | type;
}
inline constexpr ULONG PROP_TYPE(ULONG tag) { return tag & 0xFFFF; }
inline constexpr ULONG PROP_ID(ULONG tag) { return tag >> 16; }

inline constexpr ULONG PT_UNSPECIFIED = 0x0000;  // request: any type
inline constexpr ULONG PT_LONG = 0x0003;         // Value.l
inline constexpr ULONG PT_ERROR = 0x000A;        // Value.err: why it is missing
inline constexpr ULONG PT_UNICODE = 0x001F;      // Value.lpszW, NUL-terminated
inline constexpr ULONG PT_SYSTIME = 0x0040;      // Value.ft, UTC
inline constexpr ULONG PT_BINARY = 0x0102;       // Value.bin

// Messages.
inline constexpr ULONG PR_SUBJECT = 0x0037001F;               // the SMS text
inline constexpr ULONG PR_SENDER_EMAIL_ADDRESS = 0x0C1F001F;  // see below
inline constexpr ULONG PR_MESSAGE_DELIVERY_TIME = 0x0E060040;
inline constexpr ULONG PR_MESSAGE_FLAGS = 0x0E070003;   // MSGFLAG_*
inline constexpr ULONG PR_PARENT_ENTRYID = 0x0E090102;  // its folder
// Every object.
inline constexpr ULONG PR_ENTRYID = 0x0FFF0102;
// Stores and folders.
inline constexpr ULONG PR_DISPLAY_NAME = 0x3001001F;  // "SMS", "Inbox"...
// Folders: the number of messages in the folder, read when asked.
inline constexpr ULONG PR_CONTENT_COUNT = 0x36020003;
// Stores: the entry identifiers of the root folder, the Sent Items folder
// and the Inbox.
inline constexpr ULONG PR_IPM_SUBTREE_ENTRYID = 0x35E00102;
inline constexpr ULONG PR_IPM_SENTMAIL_ENTRYID = 0x35E40102;
inline constexpr ULONG PR_CE_IPM_INBOX_ENTRYID = 0x81060102;

// PR_SENDER_EMAIL_ADDRESS holds the other party's address: the sender of a
// received message, the recipient of a sent one.

// PR_MESSAGE_FLAGS bits. A delivered SMS has none (unread); a sent one has
// MSGFLAG_READ | MSGFLAG_FROMME.
inline constexpr LONG MSGFLAG_READ = 0x00000001;
inline constexpr LONG MSGFLAG_FROMME = 0x00000020;

// Flags callers pass (see the file comment: accepted, strings always wide).
inline constexpr ULONG MAPI_UNICODE = 0x80000000;
inline constexpr ULONG MAPI_MODIFY = 0x00000001;
inline constexpr ULONG MAPI_DEFERRED_ERRORS = 0x00000008;
inline constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
inline constexpr ULONG MDB_NO_DIALOG = 0x00000001;
inline constexpr ULONG MDB_WRITE = 0x00000004;
// QueryRows: read the rows without moving the table's cursor.
inline constexpr ULONG TBL_NOADVANCE = 0x00000001;

// OpenEntry's object types.
inline constexpr ULONG MAPI_STORE = 1;
inline constexpr ULONG MAPI_FOLDER = 3;
inline constexpr ULONG MAPI_MESSAGE = 5;

// SeekRow's origins.
using BOOKMARK = ULONG;
inline constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
inline constexpr BOOKMARK BOOKMARK_CURRENT = 1;
inline constexpr BOOKMARK BOOKMARK_END = 2;

// An entry identifier: four flag bytes, then bytes only the store reads.
// This store's identifiers are 14 bytes (docs/formats/message-store.md);
// they stay valid as long as their object exists and are never reused.
struct ENTRYID {
  BYTE abFlags[4];
  BYTE ab[1];  // really as long as the size passed beside the pointer
};
using LPENTRYID = ENTRYID*;

struct SBinary {
  ULONG cb;
  BYTE* lpb;
};

struct SBinaryArray {
  ULONG cValues;
  SBinary* lpbin;
};
using ENTRYLIST = SBinaryArray;

union PropValueUnion {
  LONG l;
  char16_t* lpszW;
  FileTime ft;
  SBinary bin;
  LONG err;  // an HRESULT, for PT_ERROR
};

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  PropValueUnion Value;
};

// A counted list of tags: cValues entries in aulPropTag. Make one of a
// fixed size with SizedSPropTagArray<N>.
struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
};
template <ULONG N>
struct SizedSPropTagArray {
  ULONG cValues = N;
  ULONG aulPropTag[N];
  const SPropTagArray* get() const {
    return reinterpret_cast<const SPropTagArray*>(this);
  }
};

struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  SPropValue* lpProps;  // a MAPIFreeBuffer buffer of its own
};

// cRows rows in aRow (the array really has cRows entries).
struct SRowSet {
  ULONG cRows;
  SRow aRow[1];
};

// ---------------------------------------------------------------- interfaces

inline constexpr IID IID_IMAPISession = {
    0x00020300, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMAPITable = {
    0x00020301, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMAPIProp = {
    0x00020303, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMsgStore = {
    0x00020306, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMessage = {
    0x00020307, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMAPIContainer = {
    0x0002030B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMAPIFolder = {
    0x0002030C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// A table: rows of property values, read from a cursor. A table is a
// snapshot of its rows taken when it was opened.
class IMAPITable : public IUnknown {
 public:
  // The columns of the rows QueryRows returns, in this order. A column a
  // row lacks comes back as PT_ERROR with MAPI_E_NOT_FOUND.
  virtual HRESULT SetColumns(const SPropTagArray* columns, ULONG flags) = 0;
  virtual HRESULT GetRowCount(ULONG flags, ULONG* count) = 0;
  // Moves the cursor `rows` rows (may be negative) from `origin`, clamped
  // to the table; *rows_sought (may be null) gets the rows actually moved.
  virtual HRESULT SeekRow(BOOKMARK origin, LONG rows, LONG* rows_sought) = 0;
  // Up to `row_count` (> 0) rows from the cursor, which then moves past
  // them (unless TBL_NOADVANCE). At the end *rows has cRows = 0. Free
  // *rows with FreeProws.
  virtual HRESULT QueryRows(LONG row_count, ULONG flags, SRowSet** rows) = 0;
};

// An object with properties.
class IMAPIProp : public IUnknown {
 public:
  // The values of `tags` (nullptr: every property of the object), in order,
  // in one buffer: *count values at *props, freed with MAPIFreeBuffer. A tag
  // with type PT_UNSPECIFIED takes the property's own type. A property the
  // object lacks, or asked for with another type, comes back as PT_ERROR
  // (Value.err MAPI_E_NOT_FOUND or MAPI_E_INVALID_TYPE) and the call
  // returns MAPI_W_ERRORS_RETURNED, so check each value's type.
  virtual HRESULT GetProps(const SPropTagArray* tags, ULONG flags, ULONG* count,
                           SPropValue** props) = 0;
};

class IMAPIContainer : public IMAPIProp {
 public:
  // The folder's messages, newest delivery time first. Default columns:
  // PR_ENTRYID, PR_SUBJECT, PR_SENDER_EMAIL_ADDRESS,
  // PR_MESSAGE_DELIVERY_TIME, PR_MESSAGE_FLAGS.
  virtual HRESULT GetContentsTable(ULONG flags, IMAPITable** table) = 0;
};

class IMAPIFolder : public IMAPIContainer {
 public:
  // Deletes the listed messages of this folder, in one transaction.
  // `progress` is not supported and must be null. S_OK when every entry
  // was deleted, MAPI_W_PARTIAL_COMPLETION when only some were,
  // MAPI_E_NOT_FOUND when none of a non-empty list was (an entry of
  // another folder, or one already gone, is not deleted).
  virtual HRESULT DeleteMessages(const ENTRYLIST* messages, ULONG ui_param,
                                 void* progress, ULONG flags) = 0;
};

// A message. Its properties are read when it is opened.
class IMessage : public IMAPIProp {};

class IMsgStore : public IMAPIProp {
 public:
  // Opens a folder or message of this store (a null or empty id: the root
  // folder). `iid` null gives the object's own interface (IMAPIFolder,
  // IMessage). *object_type (may be null) gets MAPI_FOLDER or MAPI_MESSAGE.
  // MAPI_E_INVALID_ENTRYID for bytes that are no identifier of this store,
  // MAPI_E_NOT_FOUND for an object that no longer exists.
  virtual HRESULT OpenEntry(ULONG entry_id_size, const ENTRYID* entry_id,
                            const IID* iid, ULONG flags, ULONG* object_type,
                            IUnknown** object) = 0;
};

class IMAPISession : public IUnknown {
 public:
  // The message stores: columns PR_ENTRYID, PR_DISPLAY_NAME.
  virtual HRESULT GetMsgStoresTable(ULONG flags, IMAPITable** table) = 0;
  virtual HRESULT OpenMsgStore(ULONG ui_param, ULONG entry_id_size,
                               const ENTRYID* entry_id, const IID* iid,
                               ULONG flags, IMsgStore** store) = 0;
  // Opens a store, folder or message of any store by its identifier.
  virtual HRESULT OpenEntry(ULONG entry_id_size, const ENTRYID* entry_id,
                            const IID* iid, ULONG flags, ULONG* object_type,
                            IUnknown** object) = 0;
  // Ends the session; later calls on it give MAPI_E_END_OF_SESSION.
  // Objects opened through it stay usable until released.
  virtual HRESULT Logoff(ULONG ui_param, ULONG flags, ULONG reserved) = 0;
};

// ---------------------------------------------------------------- entry points

// The library and the names its entry points are exported under.
inline constexpr char16_t kMapiLibraryName[] = u"cemapi.dll";
inline constexpr char kMapiInitializeName[] = "MAPIInitialize";
inline constexpr char kMapiLogonExName[] = "MAPILogonEx";
inline constexpr char kMapiUninitializeName[] = "MAPIUninitialize";
inline constexpr char kMapiFreeBufferName[] = "MAPIFreeBuffer";
inline constexpr char kFreeProwsName[] = "FreeProws";

// MAPIInitialize(reserved): counted; each call is matched by one
// MAPIUninitialize. `init` is ignored (may be null).
using MapiInitializeFunction = HRESULT (*)(void* init);
// MAPILogonEx(ui_param, profile, password, flags, session): the device has
// one profile; profile, password and flags are ignored. Fails with
// MAPI_E_NOT_INITIALIZED before MAPIInitialize. Release the session (after
// Logoff) when done.
using MapiLogonExFunction = HRESULT (*)(ULONG ui_param, char16_t* profile,
                                        char16_t* password, ULONG flags,
                                        IMAPISession** session);
using MapiUninitializeFunction = void (*)();
// Frees a buffer the store returned; null is allowed.
using MapiFreeBufferFunction = ULONG (*)(void* buffer);
// Frees a row set and every row's property buffer; null is allowed.
using FreeProwsFunction = void (*)(SRowSet* rows);

// ---------------------------------------------------------------- rule clients

// A rule client: an in-process server the messaging service activates
// (CreateComInstance) and calls for every incoming SMS before it shows in
// the Inbox.
inline constexpr IID IID_IMailRuleClient = {
    0x96D2552D,
    0xB83B,
    0x4B48,
    {0x8E, 0x89, 0xDC, 0xC2, 0x65, 0x12, 0xDB, 0xA4}};
// The class of the program's own rule client (inrelay.dll).
inline constexpr CLSID CLSID_RuleClient = {
    0x20F58816,
    0x51E4,
    0x418D,
    {0x92, 0xDD, 0x83, 0x90, 0x02, 0x1D, 0xCD, 0xCA}};

enum MRCACCESS : int32_t {
  MRC_ACCESS_NONE = 0,
  MRC_ACCESS_READ = 1,
  MRC_ACCESS_WRITE = 2,
};

enum MRCHANDLED : int32_t {
  MRC_NOT_HANDLED = 0,           // the message stays where it is
  MRC_HANDLED_CONTINUE = 1,      // handled; later rule clients still run
  MRC_HANDLED_DONTCONTINUE = 2,  // handled (deleted); no later rule client
};

// Event types a rule client reports in ProcessMessage's *event_type.
inline constexpr ULONG fnevObjectDeleted = 0x00000008;

class IMailRuleClient : public IUnknown {
 public:
  // Called once after activation; the client states the access it needs.
  virtual HRESULT Initialize(IMsgStore* store, MRCACCESS* desired_access) = 0;
  // Called for each incoming message `message` in `folder` (the Inbox) of
  // `store`. The identifiers belong to the caller and live for the call.
  virtual HRESULT ProcessMessage(IMsgStore* store, ULONG message_size,
                                 LPENTRYID message, ULONG folder_size,
                                 LPENTRYID folder, ULONG* event_type,
                                 MRCHANDLED* handled) = 0;
};

}  // namespace platform

#endif  // TELVANE_PLATFORM_MAPI_H_
