// Fuzz target for the XML backup reader: each input goes through the
// repairing filter (whole, and split at a point the input chooses, which
// must give the same bytes, all of them UTF-8 that XML 1.0 may hold), then
// is imported into a new document. What was imported is exported again,
// and that file must import back without damage or refusals. Any broken
// invariant aborts with a message.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "import/xml/backup_filter.h"
#include "import/xml/xml_backup.h"
#include "platform/device.h"
#include "platform/files.h"
#include "store/document.h"

namespace {

constexpr char16_t kDocument[] = u"\\fuzz.zud";
constexpr char16_t kExport[] = u"\\fuzz.xml";

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "xml_backup_fuzz: %s\n", what);
  abort();
}

std::string Filter(std::string_view input, size_t split) {
  import::xml::BackupFilter filter;
  std::string out;
  filter.Feed(input.substr(0, split), &out);
  filter.Feed(input.substr(split), &out);
  filter.Finish(&out);
  return out;
}

// Valid UTF-8 whose characters XML 1.0 allows (C0 controls other than
// tab, line feed and carriage return are not).
bool XmlText(const std::string& bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    char32_t c = lead;
    size_t length = 1;
    if (lead >= 0xF8 || (lead >= 0x80 && lead < 0xC2)) return false;
    if (lead >= 0xF0) {
      c = lead & 0x07, length = 4;
    } else if (lead >= 0xE0) {
      c = lead & 0x0F, length = 3;
    } else if (lead >= 0xC0) {
      c = lead & 0x1F, length = 2;
    }
    if (i + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const uint8_t next = static_cast<uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    i += length;
    const bool allowed =
        c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
        (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
    const size_t shortest = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (!allowed || length != shortest) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/xml-backup-fuzz-XXXXXX";
  Check(mkdtemp(pattern) != nullptr, "cannot make a scratch folder");
  setenv("TELVANE_DEVICE", pattern, 1);
  Check(platform::InitialiseDevice().ok(), "cannot make a device");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string whole = Filter(input, input.size());
  Check(XmlText(whole), "the filter let through what XML cannot hold");
  const size_t split = size == 0 ? 0 : data[0] % (size + 1);
  Check(Filter(input, split) == whole, "the output depends on the chunks");

  platform::files::Delete(kDocument).IgnoreError();
  store::Document document;
  Check(document.New(kDocument, {}).ok(), "cannot make a document");
  store::Node* folder = document.FindOrCreateFolderPath(u"\\Backup");
  Check(folder != nullptr, "cannot make a folder");
  import::xml::StringSource source(input);
  import::xml::ImportResult first =
      import::xml::ImportBackup(document, folder, source);
  Check(first.status.ok(), "the document failed");
  Check(static_cast<size_t>(first.imported) == folder->child_count(),
        "imported messages and nodes differ");

  import::xml::ExportResult exported =
      import::xml::ExportBackup(document, folder, true, kExport);
  Check(exported.status.ok(), "cannot export");
  Check(exported.written == first.imported, "not every message was exported");
  std::unique_ptr<platform::files::File> file =
      platform::files::File::Open(kExport, "rb");
  Check(file != nullptr, "cannot read the export");
  import::xml::FileSource written(file.get());
  store::Node* again = document.FindOrCreateFolderPath(u"\\Again");
  import::xml::ImportResult second =
      import::xml::ImportBackup(document, again, written);
  Check(second.damage.empty(), "the export is not valid XML");
  Check(second.refused == 0, "the export holds messages the import refuses");
  // Texts that differed only in what XML cannot hold are written alike.
  Check(second.imported + second.skipped == exported.written,
        "the export lost messages");
  return 0;
}
