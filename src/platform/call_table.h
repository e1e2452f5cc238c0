// What the GDI+ table and the Windows table share: a record of function pointers, one row per
// function the product calls, in the shape of SQLite's aSyscall[]. Tests put a stand-in record
// in place; a null row of a stand-in keeps the default, so a test can replace one row alone
// (the real file system with only the rename failing, say).
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "platform/fpu.h"

namespace call_table {
typedef void (*AnyRow)();
constexpr size_t kRowBytes = sizeof(AnyRow);

inline bool RowIsNull(const unsigned char* row) {
  for (size_t i = 0; i < kRowBytes; ++i) {
    if (row[i] != 0) return false;
  }
  return true;
}

// The rows are compared and copied as bytes: the records hold function pointers of different
// types and nothing else, and a null function pointer is all zero bytes on every target here.
template <typename Table>
constexpr size_t Rows() {
  static_assert(sizeof(Table) % kRowBytes == 0, "a call table holds function pointers only");
  return sizeof(Table) / kRowBytes;
}
}  // namespace call_table

// True when no row of the table is null.
template <typename Table>
bool EveryRowSet(const Table& table) {
  unsigned char bytes[sizeof(Table)];
  std::memcpy(bytes, &table, sizeof(Table));
  for (size_t row = 0; row < call_table::Rows<Table>(); ++row) {
    if (call_table::RowIsNull(bytes + row * call_table::kRowBytes)) return false;
  }
  return true;
}

// The defaults with every non-null row of the stand-in in their place; the defaults alone for
// a null stand-in.
template <typename Table>
Table WithRowsOf(const Table& defaults, const Table* standIn) {
  unsigned char merged[sizeof(Table)], replacing[sizeof(Table)];
  std::memcpy(merged, &defaults, sizeof(Table));
  if (standIn != nullptr) {
    std::memcpy(replacing, standIn, sizeof(Table));
    for (size_t at = 0; at < sizeof(Table); at += call_table::kRowBytes) {
      if (!call_table::RowIsNull(replacing + at)) {
        std::memcpy(merged + at, replacing + at, call_table::kRowBytes);
      }
    }
  }
  Table table;
  std::memcpy(&table, merged, sizeof(Table));
  return table;
}

// The default of a row: calls the function, then puts the plug-in's floating-point setting back,
// since Windows and GDI+ may leave the control word changed. The row's own type decides the
// arguments and the result: `ThenPluginFpu<::DeleteFileW>` fills a row of type
// BOOL (*)(LPCWSTR).
template <auto Real, typename Result, typename... Args>
Result ThenPluginFpu(Args... args) {
  if constexpr (std::is_void<Result>::value) {
    Real(args...);
    UsePluginFpu();
  } else {
    const Result result = Real(args...);
    UsePluginFpu();
    return result;
  }
}
