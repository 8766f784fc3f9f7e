#include "send/filing.h"

#include <algorithm>
#include <vector>

#include "platform/codepage.h"
#include "text/text.h"

namespace send {
namespace {

using store::Document;
using store::Node;

// `format` with each "%s" replaced by the next argument, in order.
std::u16string Fill(std::u16string_view format,
                    std::initializer_list<std::u16string_view> args) {
  std::u16string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u's' &&
        next != args.end()) {
      out += *next++;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The folder a new node of this kind goes to.
int FolderFor(uint32_t kind) {
  switch (static_cast<SendResultKind>(kind)) {
    case SendResultKind::kFailed:
      return store::kFolderOutbox;
    case SendResultKind::kSaveDraft:
      return store::kFolderDrafts;
    default:
      return store::kFolderSentBox;
  }
}

// A record and its body for an outgoing message.
struct OutgoingRecord {
  store::NodeRecord record;
  std::string body;
  std::u16string title;
};

OutgoingRecord MakeRecord(const settings::SettingsStore& settings,
                          const SendRequest& request,
                          const platform::SystemTime& local_now) {
  const uint32_t code_page = platform::AnsiCodePage();
  OutgoingRecord out;
  out.record.set_type(store::kRecordCompressed);
  out.record.set_date(
      platform::SystemTimeToVariantTime(local_now).value_or(0.0));
  out.record.set_sender(request.recipients, code_page);
  out.body = SentContentBytes(request.recipients, request.text, code_page);
  out.title = text::MessageTitle(request.text, request.recipients, local_now,
                                 settings.send_title());
  return out;
}

// The request's draft node when it still exists as that draft.
Node* LiveDraft(Document& document, const SendRequest& request) {
  if (!request.draft || request.draft->node == nullptr) return nullptr;
  if (!TreeHoldsNode(document.tree(), request.draft->node)) return nullptr;
  // Found by address in the tree, so the pointer is alive.
  Node* node = const_cast<Node*>(request.draft->node);
  if (!node->is_message() ||
      node->tag().record_offset != request.draft->record_offset) {
    return nullptr;  // another node now lives where the draft was
  }
  return node;
}

Node* AddOutgoing(Document& document, const OutgoingRecord& outgoing,
                  uint32_t kind) {
  Node* folder = document.WellKnownFolder(FolderFor(kind));
  if (folder == nullptr) return nullptr;
  return document.AddRecordNode(folder, outgoing.title,
                                store::kImageMessageRead, outgoing.record,
                                std::string_view(outgoing.body));
}

}  // namespace

std::u16string SentContent(std::u16string_view recipients,
                           std::u16string_view text) {
  return Fill(kSentContentFormat, {recipients, text});
}

std::string SentContentBytes(std::u16string_view recipients,
                             std::u16string_view text, uint32_t code_page) {
  const std::u16string content = SentContent(recipients, text);
  std::string bytes = platform::WideToMultiByte(content, code_page);
  if (bytes.size() > kMaxContentBytes) {
    // Whole characters while they fit. The code pages are stateless, so the
    // content's bytes are the characters' bytes one after the other.
    size_t used = 0, cut = 0;
    while (cut < content.size()) {
      size_t units =
          IsHighSurrogate(content[cut]) && cut + 1 < content.size() ? 2 : 1;
      size_t size =
          platform::WideToMultiByte(
              std::u16string_view(content).substr(cut, units), code_page)
              .size();
      if (used + size > kMaxContentBytes) break;
      used += size;
      cut += units;
    }
    bytes.resize(used);
  }
  bytes.push_back('\0');
  return bytes;
}

bool TreeHoldsNode(const store::MessageTree& tree, const Node* node) {
  if (node == nullptr) return false;
  std::vector<const Node*> pending = {tree.root()};
  while (!pending.empty()) {
    const Node* current = pending.back();
    pending.pop_back();
    for (size_t i = 0; i < current->child_count(); ++i) {
      const Node* child = current->child(i);
      if (child == node) return true;
      pending.push_back(child);
    }
  }
  return false;
}

Node* FileSendResult(Document& document,
                     const settings::SettingsStore& settings,
                     SendRequest& request, uint32_t kind,
                     const platform::SystemTime& local_now) {
  if (kind > kMaxSendResultKind || kind == 3) return nullptr;
  store::DocumentLock::Holder hold(document.lock());
  if (!document.IsOpen()) return nullptr;
  const OutgoingRecord outgoing = MakeRecord(settings, request, local_now);

  if (kind == static_cast<uint32_t>(SendResultKind::kSaveDraft)) {
    Node* draft = LiveDraft(document, request);
    if (draft == nullptr) {
      draft = AddOutgoing(document, outgoing, kind);
    } else if (!document
                    .ReplaceNodeRecord(draft, outgoing.record,
                                       std::string_view(outgoing.body),
                                       outgoing.title)
                    .ok()) {
      return nullptr;
    }
    if (draft != nullptr) {
      request.draft = DraftReference{draft, draft->tag().record_offset};
    }
    return draft;
  }

  // Sent (1), failed (0) or a finished group sending (4).
  if (request.draft) {
    Node* draft = LiveDraft(document, request);
    if (draft == nullptr) return nullptr;
    Node* filed = AddOutgoing(document, outgoing, kind);
    // A message that could not be filed keeps its draft, so nothing is lost.
    if (filed == nullptr) return nullptr;
    if (draft->tag().unread != 0) {
      document.AdjustUnread(draft->parent(), -draft->tag().unread);
    }
    document.tree().Remove(draft);
    request.draft.reset();
    document.MarkModified();
    document.UpdateRecycleBinImage();
    return filed;
  }
  if (settings.save_to_sent_box() == 0) return nullptr;
  return AddOutgoing(document, outgoing, kind);
}

void ShowSentPopup(alerts::AlertPopup& popup,
                   const settings::SettingsStore& settings,
                   const SendRequest& request, uint32_t kind) {
  const bool failed = kind == static_cast<uint32_t>(SendResultKind::kFailed);
  const bool sent = kind == static_cast<uint32_t>(SendResultKind::kSent);
  if ((!failed && !sent) || settings.sent_alert() == 0) return;
  const text::Recipient first = text::SplitRecipient(request.recipients);
  popup.SetSkin(settings.sent_skin());
  popup.Show(Fill(failed ? kSendFailFormat : kSendSuccessFormat, {first.name}),
             u"", static_cast<uint32_t>(std::max(0, settings.disappear_time())),
             u"", first.quoted);
}

void HandleSendResult(Document* document,
                      const settings::SettingsStore& settings,
                      alerts::AlertPopup* popup, SendRequest& request,
                      uint32_t kind) {
  if (kind > kMaxSendResultKind) return;
  if (document != nullptr && document->IsOpen()) {
    FileSendResult(*document, settings, request, kind,
                   platform::CurrentLocalTime());
  }
  if (popup != nullptr) ShowSentPopup(*popup, settings, request, kind);
}

}  // namespace send
