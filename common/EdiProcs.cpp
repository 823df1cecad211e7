// Interchange procedures over "'", "+", ":" and the release character "?".
#include "EdiProcs.h"

#include "SysTrace.h"

namespace {

const char* const kDirectionNames[] = {"Unknown",      "Cy -> Broker",     "Cy -> Cy",   "Cy -> ?",
                                       "Broker -> Cy", "Broker -> Broker", "Broker -> ?"};

// Segment and data elements of the header segment; an absent element is empty.
struct THeaderFields {
  std::string_view Tag;
  std::string_view Elements[9];
};

std::string_view TakeSegment(std::string_view& rest, THeaderFields& f, int count) {
  std::string_view seg = common::EdiFetch(rest, '\'', '?');
  f.Tag = common::EdiFetch(seg, '+', '?');
  for (int i = 0; i < count; ++i) f.Elements[i] = common::EdiFetch(seg, '+', '?');
  return f.Tag;
}

void InfoTrace(std::string_view msg) {
  if (common::TTrace* t = common::Trace()) t->Write(msg, common::ttInformation);
}

}  // namespace

const char* common::EdiDirectionName(TEdiDirection d) {
  return d <= edBrokerToUnknown ? kDirectionNames[d] : kDirectionNames[0];
}

std::string_view common::EdiFetch(std::string_view& S, char Delim, char Release) {
  std::size_t i = 0;
  const std::size_t n = S.size();
  while (i < n) {
    char c = S[i];
    if (c == Release) {
      i += (i + 1 < n) ? 2 : 1;
    } else if (c == Delim) {
      std::string_view token = S.substr(0, i);
      S.remove_prefix(i + 1);
      return token;
    } else {
      ++i;
    }
  }
  std::string_view token = S;
  S = std::string_view();
  return token;
}

std::string common::EdiFetch(std::string& S, char Delim, char Release) {
  std::string_view rest(S);
  std::string token(EdiFetch(rest, Delim, Release));
  S.erase(0, S.size() - rest.size());
  return token;
}

std::string common::EdiUnescape(std::string_view S, char Release) {
  std::string out;
  out.reserve(S.size());
  for (std::size_t i = 0; i < S.size(); ++i) {
    if (S[i] == Release) {
      if (++i < S.size()) out.push_back(S[i]);
    } else {
      out.push_back(S[i]);
    }
  }
  return out;
}

std::string common::StripLineBreaks(std::string_view S) {
  std::string out;
  out.reserve(S.size());
  for (char c : S)
    if (c != '\r' && c != '\n') out.push_back(c);
  return out;
}

void common::EdiDecompose(std::string_view Text, std::vector<std::string>& Strings) {
  if (Text.empty()) throw EEdiError("Decompose failed (Input empty)");
  const std::string stripped = StripLineBreaks(Text);
  std::string_view t(stripped);
  {
    std::string_view rest = t;
    THeaderFields f;
    if (TakeSegment(rest, f, 4) != "XGH") throw EEdiError("Decompose failed (Missing XGH)");
    if (!f.Elements[3].empty()) {
      Strings.emplace_back(Text);
      return;
    }
  }
  // Plain searches from here on: release characters are not considered.
  std::size_t a = t.find("'XEH+");
  if (a == std::string_view::npos) throw EEdiError("Decompose failed (Missing XEH)");
  const std::string_view header = t.substr(0, a + 1);
  t.remove_prefix(a + 1);
  std::size_t b = t.find("'XGT+");
  if (b == std::string_view::npos) throw EEdiError("Decompose failed (Missing XGT)");
  // The trailer is taken as its first 20 characters: a longer group trailer leaves a tail
  // without XET, which fails below.
  const std::string_view trailer = t.substr(b + 1, 20);
  std::string_view body = t.substr(0, b + 1);
  std::string_view tail = t.substr(b + 1 + trailer.size());
  // T is body followed by tail; messages are cut from the front of that.
  std::string joined;
  if (!tail.empty()) {
    joined.reserve(body.size() + tail.size());
    joined.append(body).append(tail);
    body = joined;
  }
  while (!body.empty()) {
    std::size_t c = body.find("'XET+");
    if (c == std::string_view::npos) throw EEdiError("Decompose failed (Missing XET)");
    std::size_t end = body.find('\'', c + 5);
    std::size_t len = (end == std::string_view::npos) ? body.size() : end + 1;
    std::string entry;
    entry.reserve(header.size() + len + trailer.size());
    entry.append(header).append(body.substr(0, len)).append(trailer);
    Strings.push_back(std::move(entry));
    body.remove_prefix(len);
  }
}

void common::EdiGetParties(std::string_view Text, std::string& X921, std::string& X922, std::string& X923,
                           std::string& X924) {
  InfoTrace("EdiGetParties()...");
  std::string_view rest = Text;
  THeaderFields f;
  if (TakeSegment(rest, f, 4) != "XGH") throw EEdiError("GetParties failed (Missing XGH)");
  std::string_view sender = f.Elements[1];
  std::string_view recipient = f.Elements[2];
  X921 = EdiUnescape(EdiFetch(sender, ':', '?'), '?');
  X922 = EdiUnescape(EdiFetch(sender, ':', '?'), '?');
  X923 = EdiUnescape(EdiFetch(recipient, ':', '?'), '?');
  X924 = EdiUnescape(EdiFetch(recipient, ':', '?'), '?');
  if (TTrace* t = Trace()) t->WriteFmt("", ttInformation, "  ==> %s, %s, %s, %s", X921, X922, X923, X924);
}

void common::EdiGetExchangeType(std::string_view Text, std::string& X912, std::string& X916, std::string& X925) {
  InfoTrace("EdiGetExchangeType()...");
  std::string_view rest = Text;
  THeaderFields group;
  if (TakeSegment(rest, group, 4) != "XGH") throw EEdiError("GetExchangeType failed (Missing XGH)");
  THeaderFields message;
  if (TakeSegment(rest, message, 9) != "XEH") throw EEdiError("GetExchangeType failed (Missing XEH)");
  X912 = std::string(message.Elements[2]);
  X916 = std::string(message.Elements[5]);
  X925 = std::string(group.Elements[3]);
  if (TTrace* t = Trace()) t->WriteFmt("", ttInformation, "  ==> %s, %s, %s", X912, X916, X925);
}

common::TEdiDirection common::EdiGetDirection(std::string_view Text) noexcept {
  std::size_t s = 0, r = 0;
  try {
    std::string x921, x922, x923, x924;
    EdiGetParties(Text, x921, x922, x923, x924);
    s = x921.size();
    r = x923.size();
  } catch (...) {
    return edUnknown;
  }
  if (s == 0) return edUnknown;
  const bool company = s <= 4;
  if (r == 0) return company ? edCyToUnknown : edBrokerToUnknown;
  if (r >= 5) return company ? edCyToBroker : edBrokerToBroker;
  return company ? edCyToCy : edBrokerToCy;
}
