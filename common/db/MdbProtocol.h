// What the Access reader program sends on its standard output: tagged records, integers in the
// machine's byte order (reader and client run on one machine).
#pragma once

namespace common::db::mdb {

// Program name of the reader; the client looks for it beside its own module.
inline constexpr const char kReaderName[] = "verimek-mdb-reader";

// Catalog: count, names. Table: name, column count, then per column its name and type. Row:
// one value per column. End closes a table; Error carries a text and ends the stream; Done
// ends a complete stream.
enum : unsigned char {
  kTagCatalog = 'C',
  kTagTable = 'T',
  kTagRow = 'R',
  kTagEnd = 'E',
  kTagError = 'X',
  kTagDone = 'Z'
};
// Kind of a value in a row, followed by nothing, an int64, a double or a length-prefixed text.
enum : unsigned char { kNull = 0, kInt = 1, kReal = 2, kText = 3 };

// Column types as the Access file stores them (and libmdb numbers them).
inline constexpr unsigned kTypeBool = 0x01;
inline constexpr unsigned kTypeByte = 0x02;
inline constexpr unsigned kTypeInt = 0x03;
inline constexpr unsigned kTypeLongInt = 0x04;
inline constexpr unsigned kTypeMoney = 0x05;
inline constexpr unsigned kTypeFloat = 0x06;
inline constexpr unsigned kTypeDouble = 0x07;
inline constexpr unsigned kTypeDateTime = 0x08;
inline constexpr unsigned kTypeText = 0x0a;
inline constexpr unsigned kTypeMemo = 0x0c;
inline constexpr unsigned kTypeNumeric = 0x10;
inline constexpr unsigned kMaxColumns = 256;

}  // namespace common::db::mdb
