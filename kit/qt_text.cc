#include "kit/qt_text.h"

#include "kit/string_table.h"

namespace kit {

QString Str(uint32_t id) { return Q(LoadString(id)); }

}  // namespace kit
