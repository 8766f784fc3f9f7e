#include "send/schedule.h"

#include "platform/codepage.h"
#include "send/filing.h"
#include "text/text.h"

namespace send {
namespace {

using store::Node;

constexpr std::u16string_view kSendToPrefix = u"Send To:";
constexpr std::u16string_view kRule = u"\r\n--------------------\r\n";

}  // namespace

std::optional<std::pair<std::u16string, std::u16string>> SplitSentContent(
    std::u16string_view content) {
  if (content.substr(0, kSendToPrefix.size()) != kSendToPrefix) {
    return std::nullopt;
  }
  content.remove_prefix(kSendToPrefix.size());
  size_t rule = content.find(kRule);
  if (rule == std::u16string_view::npos) return std::nullopt;
  return std::make_pair(std::u16string(content.substr(0, rule)),
                        std::u16string(content.substr(rule + kRule.size())));
}

platform::Status ScheduleMessage(store::Document& document,
                                 const settings::SettingsStore& settings,
                                 const SendRequest& request) {
  store::DocumentLock::Holder hold(document.lock());
  if (!document.IsOpen()) {
    return platform::Status(platform::ErrorCode::kNotFound,
                            "no document is open");
  }
  const uint32_t code_page = platform::AnsiCodePage();
  std::string body =
      SentContentBytes(request.recipients, request.text, code_page);
  // The content is cut at its limit: a message that does not fit whole
  // must not wait here, or a part of it would go out.
  std::optional<std::pair<std::u16string, std::u16string>> back =
      SplitSentContent(platform::MultiByteToWide(
          std::string_view(body).substr(0, body.size() - 1), code_page));
  if (!back || back->first != request.recipients ||
      back->second != request.text) {
    return platform::Status(platform::ErrorCode::kInvalidArgument,
                            "the message is too long to keep");
  }
  std::optional<double> due =
      platform::SystemTimeToVariantTime(request.due_time);
  if (!due) {
    return platform::Status(platform::ErrorCode::kInvalidArgument,
                            "the due time is not a time");
  }
  Node* folder = document.FindOrCreateFolderPath(kScheduledFolderPath);
  if (folder == nullptr) {
    return platform::Status(platform::ErrorCode::kIoError,
                            "the folder cannot be made");
  }
  store::NodeRecord record;
  record.set_type(store::kRecordCompressed);
  record.set_date(*due);
  record.set_sender(request.recipients, code_page);
  std::u16string title =
      text::MessageTitle(request.text, request.recipients, request.due_time,
                         settings.send_title());
  if ((request.flags & kSendFlagFlash) != 0) {
    title = std::u16string(kFlashTitleMark) + title;
  }
  Node* node = document.AddRecordNode(folder, title, store::kImageMessageRead,
                                      record, std::string_view(body));
  if (node == nullptr) {
    return platform::Status(platform::ErrorCode::kIoError,
                            "the message cannot be written");
  }
  return platform::Status::Ok();
}

std::vector<ScheduledMessage> DueMessages(
    store::Document& document, const platform::SystemTime& local_now,
    std::optional<platform::SystemTime>* next_due) {
  std::vector<ScheduledMessage> due;
  if (next_due != nullptr) next_due->reset();
  store::DocumentLock::Holder hold(document.lock());
  if (!document.IsOpen()) return due;
  Node* folder = nullptr;
  Node* root = document.tree().root();
  for (size_t i = 0; i < root->child_count(); ++i) {
    Node* child = root->child(i);
    if (!child->is_message() &&
        child->title() == kScheduledFolderPath.substr(1)) {
      folder = child;
      break;
    }
  }
  if (folder == nullptr) return due;
  const std::optional<double> now =
      platform::SystemTimeToVariantTime(local_now);
  if (!now) return due;
  std::optional<double> earliest;
  for (size_t i = 0; i < folder->child_count(); ++i) {
    Node* node = folder->child(i);
    if (!node->is_message()) continue;
    std::optional<store::NodeRecord> record = document.ReadNodeRecord(node);
    if (!record) continue;
    const double when = record->date();
    if (when > *now) {
      if (!earliest || when < *earliest) earliest = when;
      continue;
    }
    std::optional<std::u16string> content = document.ReadNodeBody(node);
    if (!content) continue;
    std::optional<std::pair<std::u16string, std::u16string>> parts =
        SplitSentContent(*content);
    if (!parts) continue;
    ScheduledMessage message;
    message.request.recipients = std::move(parts->first);
    message.request.text = std::move(parts->second);
    if (node->title().substr(0, kFlashTitleMark.size()) == kFlashTitleMark) {
      message.request.flags |= kSendFlagFlash;
    }
    message.request.draft = DraftReference{node, node->tag().record_offset};
    message.due = platform::VariantTimeToSystemTime(when).value_or(local_now);
    due.push_back(std::move(message));
  }
  if (next_due != nullptr && earliest) {
    *next_due = platform::VariantTimeToSystemTime(*earliest);
  }
  return due;
}

}  // namespace send
