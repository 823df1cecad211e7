// Routine declarations ("FindChild(string):boolean") and the built-in routines.
#include <cctype>
#include <stdexcept>

#include "ScriptTree.h"

namespace ruvala::script {

namespace {

// Tokens of a declaration: names and the characters ( ) , ; : /.
class DeclReader {
 public:
  explicit DeclReader(std::string_view text) : FText(text) { Next(); }

  const std::string& Token() const { return FTok; }
  std::string Key() const { return NameKey(FTok); }
  bool IsName() const { return !FTok.empty() && (std::isalpha(static_cast<unsigned char>(FTok[0])) || FTok[0] == '_'); }
  bool Is(char c) const { return FTok.size() == 1 && FTok[0] == c; }
  bool AtEnd() const { return FTok.empty(); }

  void Next() {
    while (FPos < FText.size() && std::isspace(static_cast<unsigned char>(FText[FPos]))) ++FPos;
    const std::size_t start = FPos;
    if (FPos < FText.size()) {
      const auto c = static_cast<unsigned char>(FText[FPos]);
      if (std::isalnum(c) || c == '_') {
        while (FPos < FText.size() && (std::isalnum(static_cast<unsigned char>(FText[FPos])) || FText[FPos] == '_'))
          ++FPos;
      } else {
        ++FPos;
      }
    }
    FTok.assign(FText.substr(start, FPos - start));
  }

  // Reads one of the type words; 0 when the token is none.
  unsigned TypeWord() const {
    const std::string k = Key();
    if (k == "boolean") return vtBoolean;
    if (k == "integer") return vtInteger;
    if (k == "float") return vtFloat;
    if (k == "string") return vtString;
    if (k == "void") return vtVoid;
    if (k == "all") return vtBoolean | vtInteger | vtFloat | vtString;
    return 0;
  }

 private:
  std::string_view FText;
  std::size_t FPos = 0;
  std::string FTok;
};

[[noreturn]] void BadDeclaration(std::string_view declaration) {
  throw std::invalid_argument("Invalid function declaration \"" + std::string(declaration) + "\"");
}

}  // namespace

std::shared_ptr<Routine> ParseDeclaration(std::string_view declaration) {
  DeclReader in(declaration);
  auto r = std::make_shared<Routine>();
  if (!in.IsName()) BadDeclaration(declaration);
  r->name = in.Token();
  in.Next();
  if (in.Is('(')) {
    in.Next();
    while (!in.Is(')')) {
      if (!r->params.empty()) {
        if (!in.Is(',') && !in.Is(';')) BadDeclaration(declaration);
        in.Next();
      }
      if (!r->params.empty() && (r->params.back().flags & pfOpen)) BadDeclaration(declaration);
      Param p;
      for (;;) {
        const std::string k = in.Key();
        if (k == "var") {
          p.flags |= pfVar;
        } else if (k == "array") {
          p.flags |= pfArray;
        } else if (k == "func") {
          p.flags |= pfFunc;
        } else if (in.IsName() && !in.TypeWord()) {
          in.Next();  // a parameter name, "name: type"
          if (!in.Is(':')) BadDeclaration(declaration);
        } else {
          break;
        }
        in.Next();
      }
      for (;;) {
        const unsigned t = in.TypeWord();
        if (!t || t == vtVoid) BadDeclaration(declaration);
        p.types |= t;
        in.Next();
        if (!in.Is('/')) break;
        in.Next();
      }
      if (in.Key() == "open") {
        p.flags |= pfOpen;
        in.Next();
      }
      r->params.push_back(p);
    }
    in.Next();
  }
  if (in.Is(':')) {
    in.Next();
    const unsigned t = in.TypeWord();
    if (t != vtVoid && t != vtBoolean && t != vtInteger && t != vtFloat && t != vtString) BadDeclaration(declaration);
    r->result = static_cast<TValueType>(t);
    in.Next();
  }
  if (!in.AtEnd()) BadDeclaration(declaration);
  const bool open = !r->params.empty() && (r->params.back().flags & pfOpen);
  r->minArgs = static_cast<int>(r->params.size()) - (open ? 1 : 0);
  r->maxArgs = open ? -1 : static_cast<int>(r->params.size());
  return r;
}

std::vector<std::shared_ptr<Routine>> BuiltinRoutines() {
  static constexpr struct {
    const char* declaration;
    BuiltinId id;
    int minArgs;  // -1: as declared
  } kBuiltins[] = {
      {"length(STRING):INTEGER", biLength, -1},  // also takes an array, checked by the routine
      {"inc(VAR INTEGER/FLOAT, INTEGER/FLOAT)", biInc, 1},
      {"dec(VAR INTEGER/FLOAT, INTEGER/FLOAT)", biDec, 1},
      {"exit", biExit, -1},
      {"break", biBreak, -1},
      {"continue", biContinue, -1},
      {"SetArray(VAR ALL, INTEGER, INTEGER OPEN)", biSetArray, 3},
      {"Type(FUNC ALL):INTEGER", biType, -1},
      {"Send(ALL OPEN)", biSend, -1},
      {"SendLn(ALL OPEN)", biSendLn, -1},
  };
  std::vector<std::shared_ptr<Routine>> out;
  for (const auto& b : kBuiltins) {
    auto r = ParseDeclaration(b.declaration);
    r->builtin = b.id;
    if (b.minArgs >= 0) r->minArgs = b.minArgs;
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace ruvala::script
