// The phone's "SMS" message store, opened the way a program on the phone
// opens it: the device's cemapi.dll loaded by name, MAPIInitialize and a
// session logged on, the stores table read row by row until the store whose
// display name is "SMS", and the identifier of its Inbox read.
//
// The messaging service (deviced) holds one for its life; the program opens
// one when it must reach the phone's Inbox itself.
//
// Lifetime: the store, the session and the library stay valid while the
// object lives; the destructor releases the store, logs off and
// uninitialises. Use from one thread at a time.
#ifndef TELVANE_PLATFORM_SMS_STORE_H_
#define TELVANE_PLATFORM_SMS_STORE_H_

#include <memory>
#include <string>

#include "platform/mapi.h"
#include "platform/modules.h"
#include "platform/status.h"

namespace platform {

class SmsStoreSession {
 public:
  // kUnavailable, saying why, when the library, an entry point, the session
  // or the store cannot be had.
  static std::unique_ptr<SmsStoreSession> Open(Status* status = nullptr);
  ~SmsStoreSession();
  SmsStoreSession(const SmsStoreSession&) = delete;
  SmsStoreSession& operator=(const SmsStoreSession&) = delete;

  IMsgStore* store() const { return store_; }
  // The Inbox's entry identifier (bytes).
  const std::string& inbox_id() const { return inbox_id_; }
  // The library's own release functions, for what its calls hand out.
  MapiFreeBufferFunction free_buffer() const { return free_buffer_; }
  FreeProwsFunction free_rows() const { return free_rows_; }

 private:
  SmsStoreSession() = default;

  std::unique_ptr<Library> library_;
  MapiUninitializeFunction uninitialize_ = nullptr;
  MapiFreeBufferFunction free_buffer_ = nullptr;
  FreeProwsFunction free_rows_ = nullptr;
  bool initialized_ = false;
  IMAPISession* session_ = nullptr;
  IMsgStore* store_ = nullptr;
  std::string inbox_id_;
};

}  // namespace platform

#endif  // TELVANE_PLATFORM_SMS_STORE_H_
