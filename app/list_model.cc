#include "app/list_model.h"

#include <QFont>

#include "app/format.h"
#include "kit/images.h"
#include "kit/qt_text.h"
#include "kit/string_table.h"
#include "platform/time.h"
#include "text/text.h"

namespace app {

namespace {

// The body summary of a list row.
constexpr size_t kSummaryChars = 30;
constexpr size_t kDateCapacity = 64;

QString FormatUnread(int unread, int count) {
  return FillFormat(kit::Str(kit::ids::kUnreadCount),
                    {QString::number(unread), QString::number(count)});
}

}  // namespace

ListModel::ListModel(store::Document* document, QObject* parent)
    : QAbstractListModel(parent),
      document_(document),
      icons_(kit::ImageStrip(kit::kBitmapTreeIcons)) {
  document_->tree().AddObserver(this);
}

ListModel::~ListModel() { document_->tree().RemoveObserver(this); }

ListModel::Entry ListModel::MakeEntry(store::Node* node) {
  Entry entry;
  entry.node = node;
  entry.mark =
      (node == nullptr || node->is_recycle_bin()) ? kNotMarkable : kNotMarked;
  return entry;
}

void ListModel::Fill(store::Node* folder) {
  beginResetModel();
  store::Node* root = document_->tree().root();
  if (folder == root) folder = nullptr;
  folder_ = folder;
  filled_ = true;
  entries_.clear();
  store::Node* parent = folder != nullptr ? folder : root;
  entries_.reserve(parent->child_count() + 1);
  if (folder != nullptr) entries_.push_back(MakeEntry(nullptr));
  for (size_t i = 0; i < parent->child_count(); ++i) {
    entries_.push_back(MakeEntry(parent->child(i)));
  }
  endResetModel();
}

void ListModel::Clear() {
  beginResetModel();
  entries_.clear();
  folder_ = nullptr;
  filled_ = false;
  endResetModel();
}

store::Node* ListModel::NodeAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= entries_.size()) return nullptr;
  return entries_[static_cast<size_t>(row)].node;
}

bool ListModel::IsUpEntry(int row) const {
  return row >= 0 && static_cast<size_t>(row) < entries_.size() &&
         entries_[static_cast<size_t>(row)].node == nullptr;
}

int ListModel::RowOf(const store::Node* node) const {
  if (node == nullptr) return -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].node == node) return static_cast<int>(i);
  }
  return -1;
}

int32_t ListModel::MarkAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= entries_.size()) {
    return kNotMarkable;
  }
  return entries_[static_cast<size_t>(row)].mark;
}

bool ListModel::ToggleMark(int row) {
  if (MarkAt(row) == kNotMarkable) return false;
  Entry& entry = entries_[static_cast<size_t>(row)];
  entry.mark = entry.mark == kMarked ? kNotMarked : kMarked;
  QModelIndex changed = index(row);
  emit dataChanged(changed, changed, {kMarkRole});
  return true;
}

void ListModel::SetAllMarks(int32_t mark) {
  for (Entry& entry : entries_) {
    if (entry.mark != kNotMarkable) entry.mark = mark;
  }
  if (!entries_.empty()) {
    emit dataChanged(index(0), index(static_cast<int>(entries_.size()) - 1),
                     {kMarkRole});
  }
}

std::vector<store::Node*> ListModel::MarkedNodes() const {
  std::vector<store::Node*> nodes;
  for (const Entry& entry : entries_) {
    if (entry.mark == kMarked && entry.node != nullptr) {
      nodes.push_back(entry.node);
    }
  }
  return nodes;
}

void ListModel::ComputeLines(const Entry& entry) const {
  store::Node* node = entry.node;
  std::optional<store::NodeRecord> record = document_->ReadNodeRecord(node);
  if (record && !record->password().empty()) {
    entry.first = QString();
    entry.second = kit::Str(kit::ids::kNeedPassword);
    return;
  }
  std::u16string sender = record ? record->sender() : std::u16string();
  // The field keeps its NUL; the display name ends there.
  if (size_t nul = sender.find(u'\0'); nul != std::u16string::npos) {
    sender.resize(nul);
  }
  std::u16string name =
      sender.empty() ? node->title() : text::SplitRecipient(sender).name;
  QString first = kit::Q(name);
  if (record) {
    if (auto time = platform::VariantTimeToSystemTime(record->date())) {
      first +=
          QLatin1Char(' ') +
          kit::Q(text::FormatTime(*time, text::TimeKind::kDate, kDateCapacity));
    }
  }
  std::optional<std::u16string> body = document_->ReadNodeBody(node);
  entry.first = first;
  entry.second =
      kit::Q(text::CopySummary(body ? *body : std::u16string(), kSummaryChars));
}

QString ListModel::FirstLine(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= entries_.size()) return {};
  const Entry& entry = entries_[static_cast<size_t>(row)];
  if (entry.node == nullptr) return {};
  if (!entry.node->is_message()) return kit::Q(entry.node->title());
  if (!entry.first) ComputeLines(entry);
  return *entry.first;
}

QString ListModel::SecondLine(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= entries_.size()) return {};
  const Entry& entry = entries_[static_cast<size_t>(row)];
  if (entry.node == nullptr) return {};
  if (!entry.node->is_message()) {
    return FormatUnread(entry.node->tag().unread,
                        static_cast<int>(entry.node->child_count()));
  }
  if (!entry.second) ComputeLines(entry);
  return *entry.second;
}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  int row = index.row();
  if (!index.isValid() || row < 0 ||
      static_cast<size_t>(row) >= entries_.size()) {
    return {};
  }
  const Entry& entry = entries_[static_cast<size_t>(row)];
  int image = entry.node == nullptr ? store::kImageUp : entry.node->image();
  switch (role) {
    case Qt::DisplayRole:
      return FirstLine(row);
    case kSecondLineRole:
      return SecondLine(row);
    case Qt::DecorationRole:
      if (static_cast<size_t>(image) < icons_.size()) {
        return icons_[static_cast<size_t>(image)];
      }
      return {};
    case Qt::FontRole: {
      QFont font;
      font.setBold(entry.node != nullptr && entry.node->tag().unread != 0);
      return font;
    }
    case kMarkRole:
      return entry.mark;
    case kImageRole:
      return image;
    case kOnClipboardRole: {
      if (entry.node == nullptr) return false;
      for (const store::Node* clip : document_->clipboard()) {
        if (clip == entry.node) return true;
      }
      return false;
    }
    default:
      return {};
  }
}

bool ListModel::Shows(const store::Node* folder) const {
  if (!filled_) return false;
  const store::Node* shown =
      folder_ != nullptr ? folder_ : document_->tree().root();
  return folder == shown;
}

void ListModel::NodeInserted(store::Node* parent, size_t, store::Node* node) {
  if (!Shows(parent)) return;
  int row = static_cast<int>(entries_.size());
  beginInsertRows(QModelIndex(), row, row);
  entries_.push_back(MakeEntry(node));
  endInsertRows();
}

void ListModel::NodeAboutToBeRemoved(store::Node*, size_t, store::Node* node) {
  if (!filled_) return;
  if (folder_ != nullptr && folder_->IsWithin(node)) {
    // The listed folder goes: show what holds it.
    store::Node* holder = node->parent();
    Fill(holder);
    // Fill lists `node` itself too; drop it below.
  }
  for (size_t i = entries_.size(); i-- > 0;) {
    if (entries_[i].node != nullptr && entries_[i].node->IsWithin(node)) {
      int row = static_cast<int>(i);
      beginRemoveRows(QModelIndex(), row, row);
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
      endRemoveRows();
    }
  }
}

void ListModel::NodeChanged(store::Node* node) {
  if (!Shows(node->parent())) return;
  int row = RowOf(node);
  if (row < 0) return;
  Entry& entry = entries_[static_cast<size_t>(row)];
  entry.first.reset();
  entry.second.reset();
  QModelIndex changed = index(row);
  emit dataChanged(changed, changed);
}

void ListModel::TreeAboutToBeReset() { Clear(); }

}  // namespace app
