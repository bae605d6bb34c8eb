#include "server/translation/exact_literals.h"

#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

#include "protocol/decimal_text.h"
#include "server/translation/literal_places.h"
#include "server/translation/text_edits.h"

namespace q4::lite {

namespace {

// Significant digits every value of which a double holds (DBL_DIG).
constexpr uint32_t kDoubleDigits = 15;

// A long literal: its decimal text with the sign (no "+", no leading zeros,
// the decimals as written), and the NUMERIC precision and scale it has.
struct LongLiteral {
  std::string text;
  uint32_t precision = 0;
  uint32_t scale = 0;
};

bool fits_int64(const char* digits, uint32_t count, bool negative) {
  if (count != 19) return count < 19;
  return std::memcmp(digits, negative ? "9223372036854775808" : "9223372036854775807", 19) <= 0;
}

// True, with `out` filled, when the number token `token` (after a unary minus
// when `negative`) is a long literal.
bool read_long_literal(std::string_view token, bool negative, LongLiteral* out) {
  DecimalText d;
  if (!read_decimal_text(token.data(), token.size(), &d) || d.has_sign || d.has_exponent ||
      d.padded) {
    return false;
  }
  const SignificantDigits significant = significant_digits(d);
  if (significant.end - significant.first <= kDoubleDigits) return false;
  uint32_t zeros = 0;
  while (zeros < d.whole_count && d.whole[zeros] == '0') ++zeros;
  const uint32_t whole = d.whole_count - zeros;
  // SQLite reads such an integer exactly (-9223372036854775808 too).
  if (!d.has_point && fits_int64(d.whole + zeros, whole, negative)) return false;
  out->text.clear();
  if (negative) out->text += '-';
  if (whole == 0) {
    out->text += '0';
  } else {
    out->text.append(d.whole + zeros, whole);
  }
  if (d.fraction_count > 0) {
    out->text += '.';
    out->text.append(d.fraction, d.fraction_count);
  }
  out->precision = whole + d.fraction_count;
  out->scale = d.fraction_count;
  return true;
}

// True when the double nearest to `text` written in its shortest form has
// the same significant digits: sent as a double, the value loses nothing.
bool double_gives_back(const std::string& text) {
  double value = 0;
  const char* const end = text.data() + text.size();
  const std::from_chars_result parsed = std::from_chars(text.data(), end, value);
  if (parsed.ec != std::errc() || parsed.ptr != end) return false;
  char shortest[32];
  const std::to_chars_result written =
      std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific);
  DecimalText a;
  DecimalText b;
  if (!read_decimal_text(text.data(), text.size(), &a) ||
      !read_decimal_text(shortest, static_cast<size_t>(written.ptr - shortest), &b)) {
    return false;
  }
  const SignificantDigits sa = significant_digits(a);
  const SignificantDigits sb = significant_digits(b);
  if (sa.end - sa.first != sb.end - sb.first || a.power_of(sa.first) != b.power_of(sb.first)) {
    return false;
  }
  for (uint32_t i = 0; i < sa.end - sa.first; ++i) {
    if (a.digit(sa.first + i) != b.digit(sb.first + i)) return false;
  }
  return true;
}

// `word` (upper case) in `text`, ASCII letters compared without their case.
bool contains_ignoring_case(const char* text, const char* word) {
  for (const char* p = text; *p != '\0'; ++p) {
    size_t k = 0;
    while (word[k] != '\0' && (p[k] == word[k] || (p[k] >= 'a' && p[k] - ('a' - 'A') == word[k]))) {
      ++k;
    }
    if (word[k] == '\0') return true;
  }
  return false;
}

// SQLite's affinity rules, as far as TEXT affinity goes: a declared type
// containing INT is an integer, else one containing CHAR, CLOB or TEXT text.
bool text_affinity(const char* declared) {
  if (declared == nullptr || contains_ignoring_case(declared, "INT")) return false;
  return contains_ignoring_case(declared, "CHAR") || contains_ignoring_case(declared, "CLOB") ||
         contains_ignoring_case(declared, "TEXT");
}

// Whether the column a literal meets keeps text, asked of the database.
class TextColumns {
 public:
  TextColumns(const StatementPlaces& statement, DeclaredTypes* types)
      : statement_(statement), types_(types) {}

  bool keeps_text(const Place& place) {
    switch (place.use) {
      case Use::kColumn:
        return column_keeps_text(statement_.column_names(place));
      case Use::kInsertValue:
        return insert_value_keeps_text(place.position);
      case Use::kDefault:
        return text_affinity(statement_.declared_type(place).c_str());
      default:
        return false;
    }
  }

 private:
  // A column the text names: every table of the statement that has a
  // column of that name (or the one its qualifier names) gives it TEXT
  // affinity, and one at least has it.
  bool column_keeps_text(const std::vector<std::string>& parts) {
    const std::string& column = parts.back();
    if (parts.size() == 3) return text_affinity(types_->column_type(parts[0], parts[1], column));
    bool found = false;
    auto check = [&](const TableName& table) {
      const char* type = types_->column_type(table.schema, table.name, column);
      if (type == nullptr) return true;
      found = true;
      return text_affinity(type);
    };
    const std::vector<TableName>& tables = statement_.tables();
    if (parts.size() == 2) {
      for (const std::string& query : statement_.query_names()) {
        if (same_name(query, parts[0])) return false;
      }
      bool named = false;
      for (const TableName& table : tables) {
        if (!same_name(table.alias, parts[0])) continue;
        named = true;
        if (!check(table)) return false;
      }
      for (const TableName& table : tables) {
        if (named || !table.alias.empty() || !same_name(table.name, parts[0])) continue;
        named = true;
        if (!check(table)) return false;
      }
      if (!named) return check(TableName{"", parts[0], ""}) && found;
      return found;
    }
    for (const TableName& table : tables) {
      if (!check(table)) return false;
    }
    return found;
  }

  // Value `position` of an INSERT goes into the listed column, or into the
  // table's column at that position (of those a value is given for).
  bool insert_value_keeps_text(size_t position) {
    const TableName* table = statement_.insert_table();
    if (table == nullptr) return false;
    if (statement_.lists_insert_columns()) {
      const std::string column = statement_.insert_column(position);
      return !column.empty() &&
             text_affinity(types_->column_type(table->schema, table->name, column));
    }
    const std::vector<std::string>* types = types_->value_columns(table->schema, table->name);
    return types != nullptr && position < types->size() &&
           text_affinity((*types)[position].c_str());
  }

  const StatementPlaces& statement_;
  DeclaredTypes* types_;
};

// The replacement of a long literal at `number`, if it gets one.
bool replacement_of(const std::string& sql, const NumberAt& number, TextColumns* columns,
                    TextEdit* out) {
  LongLiteral literal;
  const std::string_view digits(sql.data() + number.digits, number.end - number.digits);
  if (number.place.use == Use::kNone || !read_long_literal(digits, number.negative, &literal)) {
    return false;
  }
  if (number.place.use != Use::kResultItem) {
    if (!columns->keeps_text(number.place)) return false;
    *out = TextEdit{number.begin, number.end, "'" + literal.text + "'"};
    return true;
  }
  if (double_gives_back(literal.text)) return false;
  std::string text = "CAST('" + literal.text + "' AS NUMERIC TEXT(" +
                     std::to_string(literal.precision) + "," + std::to_string(literal.scale) + "))";
  if (!number.place.aliased) {
    // The name SQLite gave the item: its text as written.
    text += " AS \"";
    for (size_t k = number.begin; k < number.end; ++k) {
      if (sql[k] == '"') text += '"';
      text += sql[k];
    }
    text += '"';
  }
  *out = TextEdit{number.begin, number.end, std::move(text)};
  return true;
}

}  // namespace

bool may_hold_long_literals(std::string_view text) {
  // What each byte is to the scan: most are nothing (0).
  enum : uint8_t { kOther, kDigit, kPoint, kQuote, kDash, kSlash };
  struct Classes {
    uint8_t of[256] = {};
    constexpr Classes() {
      for (int c = '0'; c <= '9'; ++c) of[c] = kDigit;
      of[static_cast<uint8_t>('.')] = kPoint;
      of[static_cast<uint8_t>('\'')] = kQuote;
      of[static_cast<uint8_t>('"')] = kQuote;
      of[static_cast<uint8_t>('-')] = kDash;
      of[static_cast<uint8_t>('/')] = kSlash;
    }
  };
  static constexpr Classes kClasses;
  uint32_t digits = 0;  // of the current run of digits and points
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    if (kClasses.of[static_cast<uint8_t>(*p)] == kOther) {
      digits = 0;
      do ++p;
      while (p < end && kClasses.of[static_cast<uint8_t>(*p)] == kOther);
      continue;
    }
    const char c = *p++;
    const uint8_t kind = kClasses.of[static_cast<uint8_t>(c)];
    if (kind == kDigit) {
      if (++digits > kDoubleDigits) return true;
      continue;
    }
    if (kind == kPoint) continue;
    digits = 0;
    // Past strings, quoted names and comments (an apostrophe in a comment
    // opens no string).
    const void* close = nullptr;
    if (kind == kQuote) {
      close = std::memchr(p, c, static_cast<size_t>(end - p));
    } else if (p < end && *p == c && kind == kDash) {
      close = std::memchr(p, '\n', static_cast<size_t>(end - p));
    } else if (p < end && *p == '*' && kind == kSlash) {
      const size_t at = text.find("*/", static_cast<size_t>(p + 1 - text.data()));
      close = at == std::string_view::npos ? nullptr : text.data() + at + 1;
    } else {
      continue;
    }
    if (close == nullptr) return false;  // to the end
    p = static_cast<const char*>(close) + 1;
  }
  return false;
}

void rewrite_long_literals(std::string* sql, size_t from, DeclaredTypes* types) {
  StatementPlaces statement(*sql, from);
  if (!statement.read()) return;
  TextColumns columns(statement, types);
  std::vector<TextEdit> edits;
  TextEdit edit;
  for (const NumberAt& number : statement.numbers()) {
    if (replacement_of(*sql, number, &columns, &edit)) edits.push_back(std::move(edit));
  }
  apply_edits(edits, sql);
}

}  // namespace q4::lite
