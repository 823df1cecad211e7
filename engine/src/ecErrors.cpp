// Catalogue texts are the system's own: they are stored and compared by clients byte for byte.
#include "ecErrors.h"

#include "SysTrace.h"

namespace ruvala {

const TErrorCode ErrorTable[kErrorCount] = {
    {"E0001", "Exception %s"},
    {"E0002", "Empty Edifact message"},
    {"E0003", "Validate segments failed (%s)"},
    {"E0004", "Invalid Edifact message"},
    {"E0005", "Invalid Edifact message (%d error(s) found)"},
    {"E0006", "Script validation error (%s)"},
    {"E0007", "Value required for \"%s\""},
    {"E0008", "Missing mandatory segment (%s)"},
    {"E0009", "Invalid value for \"%s\", found \"%s\""},
    {"E0010", "Specific value not found, Oca:\"%s\", List:\"%s\", Value:\"%s\""},
    {"E0011", "Invalid specific value found, Oca:\"%s\", List:\"%s\", Value:\"%s\""},
    {"E0012", "Specific value not allowed in Inter-Application mode, found Oca:\"%s\", vist:\"%s\", value:\"%s\""},
    {"E0013", "Value of \"%s\" mandatory"},
    {"E0014", "Expecting numeric value for \"%s\", found \"%s\""},
    {"E0015", "Too long value for \"%s\", found \"%s\", max length = %d"},
    {"E0016", "Invalid date value, found \"%s\""},
    {"E0017", "Invalid date format, found \"%s\", expecting \"%s\""},
    {"E0018", "Invalid date value, found \"%s\", expecting \"%s\""},
    {"E0019", "Invalid value for \"%s\", found \"%s\" in domain \"%s\""},
    {"E0020", "Invalid formula for \"%s\", Oca=\"%s\", Guarantee=\"%s\", Formula=\"%s\""},
    {"E0021", "Invalid product for \"%s\", Oca=\"%s\", Product=\"%s\""},
    {"E0022", "Invalid product's domain for \"%s\", Oca=\"%s\", Product=\"%s\", Domain=\"%s\" expecting \"%s\""},
    {"E0023", "Invalid type policy for \"%s\", found \"%s\""},
    {"E0024", "Invalid type policy's domain for \"%s\", found \"%s\" in domain \"%s\""},
    {"E0025", "Invalid index code for \"%s\", found \"%s\""},
    {"E0026", "Invalid index value for \"%s\", found \"%s\""},
    {"E0027", "Invalid country code \"%s\""},
    {"E0028", "Invalid zip code for \"%s\", found \"%s\" for country \"%s\""},
    {"E0029", "Invalid FSMA code \"%s\""},
};

const TErrorCode WarningTable[kWarningCount] = {
    {"W0001", "Obsolete value for \"%s\", found \"%s\""},
    {"W0002", "Obsolete specific value not found, Oca:\"%s\", List:\"%s\", Value:\"%s\""},
    {"W0003", "Segment group \"%s\" is empty"},
    {"W0004", "Segment \"%s\" is empty"},
    {"W0005", "Obsolete value for \"%s\", found \"%s\" in domain \"%s\""},
    {"W0006", "Invalid formula for \"%s\", Oca=\"%s\", Guarantee=\"%s\", Formula=\"%s\""},
    {"W0007", "Out of date formula for \"%s\", Oca=\"%s\", Guarantee=\"%s\", Formula=\"%s\""},
    {"W0008", "Obsolete product for \"%s\", Oca=\"%s\", Product=\"%s\", Domain=\"%s\""},
    {"W0009", "Out of date product for \"%s\", Oca=\"%s\", Product=\"%s\", Domain=\"%s\""},
    {"W0010", "Obsolete type policy for \"%s\", found \"%s\""},
    {"W0011", "Obsolete zip code for \"%s\", found \"%s\" for country \"%s\""},
    {"W0012", "Invalid character (\"%s\") for \"%s\", found \"%s\""},
};

// Fills a template with the texts escaped: a value may hold NUL or other control characters,
// which would end or break the finding's text wherever it is shown or stored.
static std::string Fill(const std::string& tmpl, const TFormatArgs& args) {
  TFormatArgs shown(args);
  for (common::FormatArg& a : shown)
    if (auto* s = std::get_if<std::string>(&a)) *s = common::EscapeControls(*s);
  return common::FormatText(tmpl, shown);
}

static TErrorCode Lookup(const TErrorCode* table, int n, std::string_view code, const TFormatArgs& args,
                         TErrorCode notFound) {
  for (int i = 0; i < n; ++i)
    if (table[i].Code == code) return {table[i].Code, args.empty() ? table[i].Message : Fill(table[i].Message, args)};
  return notFound;
}

TErrorCode GetErrorCode(std::string_view code, const TFormatArgs& args, TErrorCode notFound) {
  return Lookup(ErrorTable, kErrorCount, code, args, std::move(notFound));
}

TErrorCode GetWarningCode(std::string_view code, const TFormatArgs& args, TErrorCode notFound) {
  return Lookup(WarningTable, kWarningCount, code, args, std::move(notFound));
}

std::string CommaTextEntry(std::string_view entry) {
  bool quote = entry.empty();
  for (char c : entry)
    if (c == ' ' || c == ',' || c == '"' || static_cast<unsigned char>(c) < 0x20) quote = true;
  if (!quote) return std::string(entry);
  std::string out = "\"";
  for (char c : entry) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

static std::string CodeList(const TErrorCode* table, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    if (i) out.push_back(',');
    out += CommaTextEntry(table[i].Code + "=" + table[i].Message);
  }
  return out;
}

std::string GetErrorCodeList() { return CodeList(ErrorTable, kErrorCount); }
std::string GetWarningCodeList() { return CodeList(WarningTable, kWarningCount); }

std::string TEdiErrorItem::ToString() const {
  return common::Fmt("Segment #%d, %s, %s, %s", SgmtNo, SgmtKey, Error.Code, Error.Message);
}

void TEdiErrorList::Add(int sgmtNo, const std::string& sgmtKey, const TErrorCode& error) {
  FItems.push_back(std::make_unique<TEdiErrorItem>(sgmtNo, sgmtKey, error));
  if (common::TTrace* t = common::Trace())
    t->WriteFmt(this, common::ttInformation, "Add(%d, %s, %s, %s)", sgmtNo, sgmtKey, error.Code, error.Message);
}

void TEdiErrorList::Add(int sgmtNo, const std::string& sgmtKey, const TFormatArgs& args, const TErrorCode& error) {
  Add(sgmtNo, sgmtKey, TErrorCode{error.Code, Fill(error.Message, args)});
}

const TEdiErrorItem& TEdiErrorList::GetItems(int index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range(common::Fmt("List index out of bounds (%d)", index));
  return *FItems[static_cast<std::size_t>(index)];
}

const TEdiErrorItem* TEdiErrorList::GetFirstError() const {
  for (const auto& item : FItems)
    if (item->Error.Message.find("Obsolete") == std::string::npos) return item.get();
  return nullptr;
}

bool TEdiErrorList::ObsoleteOnly() const { return GetFirstError() == nullptr; }

std::string MakeSegmentKey(int level, const std::string& tag, const std::vector<TKeyPiece>& levels) {
  if (level < 2) return tag;
  std::string key;
  for (int l = 2; l <= level; ++l) {
    if (l > 2) key.push_back('\'');
    if (static_cast<std::size_t>(l) < levels.size()) {
      key += levels[static_cast<std::size_t>(l)].Tag;
      key.push_back('+');
      key += levels[static_cast<std::size_t>(l)].Qualifier;
    } else {
      key.push_back('+');
    }
  }
  return key;
}

}  // namespace ruvala
