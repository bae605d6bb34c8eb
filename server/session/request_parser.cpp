#include "server/session/request_parser.h"

#include <cstring>

#include "protocol/codec.h"

namespace q4::lite {

namespace {

// More binary blocks than this in one request is taken as damage (the
// driver sends at most 25).
constexpr size_t kMaxBinaryBlocks = 1000;
constexpr uint8_t kCatalogEndMark = 0x01;

std::string_view view(const uint8_t* p, size_t n) {
  return std::string_view(reinterpret_cast<const char*>(p), n);
}

bool get_string(Reader* in, std::string_view* out) {
  const char* text = nullptr;
  size_t length = 0;
  if (!in->get_cstring(&text, &length)) return false;
  *out = std::string_view(text, length);
  return true;
}

// One binary block at `in`: decimal count, NUL, the bytes, NUL.
bool get_binary_block(Reader* in, std::string_view* out) {
  Reader probe = *in;
  size_t count = 0;
  size_t digits = 0;
  uint8_t c = 0;
  while (probe.get_u8(&c) && c >= '0' && c <= '9') {
    if (++digits > 10) return false;
    count = count * 10 + (c - '0');
  }
  if (digits == 0 || c != 0) return false;
  const uint8_t* bytes = nullptr;
  uint8_t terminator = 1;
  if (probe.remaining() < count) return false;
  if (!probe.get_bytes(count, &bytes) || !probe.get_u8(&terminator) || terminator != 0) {
    return false;
  }
  *out = view(bytes, count);
  *in = probe;
  return true;
}

// The trailer: a lone NUL, or a name without NULs followed by three NULs.
bool parse_trailer(const uint8_t* p, size_t n, std::string_view* cursor_name) {
  if (n == 1 && p[0] == 0) {
    *cursor_name = std::string_view();
    return true;
  }
  if (n < 4 || p[n - 1] != 0 || p[n - 2] != 0 || p[n - 3] != 0) return false;
  if (std::memchr(p, 0, n - 3) != nullptr) return false;
  *cursor_name = view(p, n - 3);
  return true;
}

}  // namespace

bool parse_execute(const uint8_t* data, size_t size, ExecuteRequest* out) {
  Reader in{data, data + size};
  out->binaries.clear();
  if (!in.get_u32(&out->statement_id) || !get_string(&in, &out->text)) return false;
  // Blocks are read greedily; a cursor name can look like a block ("1" NUL
  // NUL NUL), so when what is left is no trailer, blocks are given back one
  // at a time and the trailer is tried at each earlier position.
  std::vector<const uint8_t*> starts;
  starts.push_back(in.pos);
  std::string_view block;
  while (out->binaries.size() < kMaxBinaryBlocks && get_binary_block(&in, &block)) {
    out->binaries.push_back(block);
    starts.push_back(in.pos);
  }
  for (;;) {
    const uint8_t* at = starts.back();
    if (parse_trailer(at, static_cast<size_t>(data + size - at), &out->cursor_name)) return true;
    if (out->binaries.empty()) return false;
    out->binaries.pop_back();
    starts.pop_back();
  }
}

bool parse_statement_id(const uint8_t* data, size_t size, uint32_t* id) {
  if (size != 4 && size != 6) return false;
  Reader in{data, data + size};
  return in.get_u32(id);
}

bool parse_describe(const uint8_t* data, size_t size, DescribeRequest* out) {
  Reader in{data, data + size};
  return size == 6 && in.get_u32(&out->statement_id) && in.get_u16(&out->column);
}

bool parse_fetch(const uint8_t* data, size_t size, FetchRequest* out) {
  Reader in{data, data + size};
  uint8_t form = 0;
  if (!in.get_u32(&out->statement_id) || !in.get_u8(&form)) return false;
  if (form == 'X' && size == 5) {
    out->absolute = false;
    out->row = 0;
    return true;
  }
  if (form == 'A' && size == 9 && in.get_u32(&out->row)) {
    out->absolute = true;
    if (out->row == 0) out->row = 1;
    return true;
  }
  return false;
}

bool parse_get_data(const uint8_t* data, size_t size, GetDataRequest* out) {
  Reader in{data, data + size};
  return size == 8 && in.get_u32(&out->statement_id) && in.get_u16(&out->column) &&
         in.get_u16(&out->c_type);
}

bool parse_catalog(CatalogKind kind, const uint8_t* data, size_t size, CatalogRequest* out) {
  Reader in{data, data + size};
  *out = CatalogRequest{};
  out->kind = kind;
  if (!in.get_u32(&out->statement_id)) return false;
  size_t strings = 0;
  switch (kind) {
    case CatalogKind::kTables:
    case CatalogKind::kColumns:
      strings = 4;
      break;
    case CatalogKind::kPrimaryKeys:
    case CatalogKind::kStatistics:
    case CatalogKind::kSpecialColumns:
      strings = 3;
      break;
    case CatalogKind::kTypeInfo:
      strings = 0;
      break;
  }
  if (kind == CatalogKind::kStatistics && in.remaining() == 2 && in.pos[0] == 0 &&
      in.pos[1] == kCatalogEndMark) {
    // The older form: no arguments at all.
    for (auto& s : out->strings) s = "%";
    out->string_count = 3;
    out->numbers[0] = 1;  // SQL_INDEX_ALL
    return true;
  }
  for (size_t i = 0; i < strings; ++i) {
    if (!get_string(&in, &out->strings[i])) return false;
  }
  out->string_count = strings;
  uint8_t byte = 0;
  uint16_t word = 0;
  switch (kind) {
    case CatalogKind::kStatistics:
      for (int i = 0; i < 2; ++i) {
        if (!in.get_u8(&byte)) return false;
        out->numbers[i] = byte;
      }
      if (!in.get_u8(&byte) || byte != 0) return false;
      break;
    case CatalogKind::kSpecialColumns:
      for (int i = 0; i < 3; ++i) {
        if (!in.get_u16(&word)) return false;
        out->numbers[i] = word;
      }
      if (!in.get_u8(&byte) || byte != 0) return false;
      break;
    case CatalogKind::kTypeInfo:
      if (!in.get_u16(&word)) return false;
      out->numbers[0] = static_cast<int16_t>(word);
      if (!in.get_u8(&byte) || byte != 0) return false;
      break;
    default:
      break;
  }
  return in.get_u8(&byte) && byte == kCatalogEndMark && in.remaining() == 0;
}

bool parse_logon(const uint8_t* data, size_t size, LogonRequest* out) {
  if (size < 6) return false;
  const char* text = reinterpret_cast<const char*>(data);
  const char separator = text[size - 1];
  std::string_view* fields[] = {&out->server,   &out->virtual_machine, &out->user,
                                &out->password, &out->account,         &out->account_password};
  size_t pos = 0;
  for (std::string_view* field : fields) {
    const void* found = std::memchr(text + pos, separator, size - pos);
    if (found == nullptr) return false;
    const size_t end = static_cast<size_t>(static_cast<const char*>(found) - text);
    *field = std::string_view(text + pos, end - pos);
    pos = end + 1;
  }
  out->numeric_marks = std::string_view();
  if (pos == size) return true;
  // The only item allowed after the six fields is the quoted marks item,
  // which may itself contain the separator (a "," thousand mark).
  const std::string_view rest(text + pos, size - pos);
  if (rest.size() < 3 || rest.front() != '"' || rest[rest.size() - 2] != '"') return false;
  out->numeric_marks = rest.substr(1, rest.size() - 3);
  return true;
}

bool parse_account(const uint8_t* data, size_t size, AccountRequest* out) {
  const std::string_view text = view(data, size);
  if (text.find('\0') != std::string_view::npos) return false;
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) {
    out->account = text;
    out->password = std::string_view();
  } else {
    out->account = text.substr(0, comma);
    out->password = text.substr(comma + 1);
  }
  return true;
}

bool parse_settings(const uint8_t* data, size_t size, SettingsRequest* out) {
  if (size != 3) return false;
  if ((data[0] != '0' && data[0] != '1') || (data[1] != '0' && data[1] != '1') || data[2] < '1' ||
      data[2] > '4') {
    return false;
  }
  out->read_only = data[0] == '0';
  out->autocommit = data[1] == '1';
  out->isolation = data[2] - '0';
  return true;
}

bool parse_transact(const uint8_t* data, size_t size, bool* commit) {
  if (size != 1 || (data[0] != 'C' && data[0] != 'R')) return false;
  *commit = data[0] == 'C';
  return true;
}

bool parse_information(const uint8_t* data, size_t size, uint16_t* first, uint16_t* second) {
  Reader in{data, data + size};
  return size == 4 && in.get_u16(first) && in.get_u16(second);
}

}  // namespace q4::lite
