// inrelay.dll: the program's SMS rule client, a component-model in-process
// server that the phone's messaging service loads and calls for every
// incoming SMS before it shows in the Inbox.
//
// The class CLSID_RuleClient (platform/mapi.h) implements IMailRuleClient.
// For each message ProcessMessage copies the text, the sender address and
// the delivery time into the shared queue "ZUD_SmsBuffer"
// (ruleclient/sms_buffer_layout.h, docs/formats/sms-buffer.md), sets
// "ZUD_SMSAvailableEvent" and, while the program's intake is attached,
// waits up to 1500 ms for "ZUD_SMSDeleteEvent". When that verdict comes the
// message is deleted from its folder and reported as handled
// (fnevObjectDeleted, MRC_HANDLED_DONTCONTINUE); in every other case it
// stays in the Inbox (MRC_NOT_HANDLED).
//
// Verdicts are never misattributed:
// - "ZUD_SMSDeleteEvent" is cleared while "ZUD_SMSDataMutex" is held, just
//   before the entry is queued, so a verdict given for this message (which
//   the intake can only give after taking the mutex) is never lost.
// - The client waits only when its entry is the only one in the queue: a
//   full queue (the message was not copied) or older unread entries (whose
//   verdicts would come first) leave the message not handled without a
//   wait, so a verdict meant for an older entry never deletes this one.
// - Calls of ProcessMessage within one process are serialised.
//
// When the delivery time cannot be read, the slot's time field holds 0.
// When the shared buffer cannot be created or mapped, or one of the named
// objects is missing, the library touches nothing and leaves every message
// not handled.
//
// Property buffers are freed with MAPIFreeBuffer of "cemapi.dll" (the
// library of the store that is passed in, already loaded in the calling
// process).
//
// The named objects and the overflow selector are module-wide (one set per
// loaded library): creating a rule client (re)opens them and resets the
// queue, destroying one closes them.
#ifndef TELVANE_RULECLIENT_RULE_CLIENT_H_
#define TELVANE_RULECLIENT_RULE_CLIENT_H_

#include "platform/com.h"

// The library's only exports.
extern "C" {

// CLASS_E_CLASSNOTAVAILABLE for any class but CLSID_RuleClient; otherwise
// the class factory's interface `iid` in *object.
__attribute__((visibility("default"))) platform::HRESULT DllGetClassObject(
    const platform::CLSID& clsid, const platform::IID& iid, void** object);

// S_FALSE while the factory's lock count (LockServer) is nonzero, else
// S_OK. Live objects do not count.
__attribute__((visibility("default"))) platform::HRESULT DllCanUnloadNow();

}  // extern "C"

#endif  // TELVANE_RULECLIENT_RULE_CLIENT_H_
