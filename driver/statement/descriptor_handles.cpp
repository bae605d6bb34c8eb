// Descriptor handles: explicit allocation and release, a statement's choice
// of descriptors, and copying (statement/descriptors.h).
#include <cstdio>
#include <cstring>

#include "core/descriptor_registry.h"
#include "core/diagnostics.h"
#include "core/memory.h"
#include "results/desc_records.h"
#include "statement/descriptors.h"

namespace q4 {

namespace {

void release_records(Descriptor& desc) {
  drop_records_above(desc, 0);
}

// Statements that use `desc` go back to their own descriptors.
void detach_from_statements(Descriptor* desc, Statement* first) {
  for (Statement* stmt = first; stmt != nullptr; stmt = stmt->next) {
    if (stmt->explicit_row_descriptor == desc) stmt->explicit_row_descriptor = nullptr;
    if (stmt->explicit_param_descriptor == desc) stmt->explicit_param_descriptor = nullptr;
  }
}

void discard_descriptor(Descriptor* desc) {
  Connection* conn = desc->connection;
  detach_from_statements(desc, conn->statements);
  detach_from_statements(desc, conn->unreleased);
  (desc->prev != nullptr ? desc->prev->next : conn->descriptors) = desc->next;
  if (desc->next != nullptr) desc->next->prev = desc->prev;
  unregister_descriptor(desc);
  release_records(*desc);
  drv_free(desc);
}

bool is_application(const Descriptor& desc) {
  return desc.kind == DescriptorKind::kAppRow || desc.kind == DescriptorKind::kAppParam;
}

// Copies the application records of `source` into `target`, replacing its
// own. A parameter's pieces and accumulation buffer stay behind: they belong
// to an execution, not to the binding.
SQLRETURN copy_records(const Descriptor& source, Descriptor* target) {
  release_records(*target);
  DescRecord** tail = &target->records;
  for (const DescRecord* r = source.records; r != nullptr; r = r->next) {
    auto* copy = static_cast<DescRecord*>(drv_alloc(nullptr, nullptr, sizeof(DescRecord)));
    if (copy == nullptr) return post_descriptor_error(target, kDiagMemory);
    *copy = *r;
    copy->next = nullptr;
    copy->complete = 0;
    copy->piece_data = nullptr;
    copy->piece_length = 0;
    copy->piece_seen = 0;
    copy->buffer_capacity = 0;
    copy->buffer = nullptr;
    *tail = copy;
    tail = &copy->next;
  }
  count_irregular_records(*target);
  return SQL_SUCCESS;
}

// Copies the result's columns as records of an application descriptor:
// each column's SQL type becomes its C type (the two share the codes of the
// types a result holds), its octet length the buffer length.
SQLRETURN copy_result_columns(Descriptor* source, Descriptor* target) {
  Statement* stmt = source->statement;
  release_records(*target);
  for (int32_t column = 1; column <= stmt->column_count; ++column) {
    SQLLEN type = 0, octets = 0;
    SQLRETURN rc = get_desc_field(source, static_cast<SQLSMALLINT>(column), SQL_DESC_CONCISE_TYPE,
                                  &type, 0, nullptr, TextForm::kNarrow);
    if (rc == SQL_SUCCESS) {
      rc = get_desc_field(source, static_cast<SQLSMALLINT>(column), SQL_DESC_OCTET_LENGTH, &octets,
                          0, nullptr, TextForm::kNarrow);
    }
    if (rc != SQL_SUCCESS) {
      memcpy(target->sqlstate, source->sqlstate, sizeof target->sqlstate);
      memcpy(target->message, source->message, sizeof target->message);
      return SQL_ERROR;
    }
    DescRecord* r = find_or_add_record(*target, static_cast<uint16_t>(column), nullptr);
    if (r == nullptr) return post_descriptor_error(target, kDiagMemory);
    r->c_type = static_cast<int16_t>(static_cast<SQLSMALLINT>(type));
    r->buffer_length = octets;
  }
  return SQL_SUCCESS;
}

}  // namespace

SQLRETURN post_descriptor_error(Descriptor* desc, const DiagText& diag) {
  snprintf(desc->sqlstate, sizeof desc->sqlstate, "%s", diag.sqlstate);
  snprintf(desc->message, sizeof desc->message, "%s%.*s", kMessagePrefix, kMaxPostedText,
           diag.text);
  return SQL_ERROR;
}

SQLRETURN alloc_descriptor(Connection* conn, Descriptor** out) {
  if (out != nullptr) *out = nullptr;
  if (conn->link == nullptr) return post_connection_error(conn, kDiagNotConnected);
  if (out == nullptr) return post_connection_error(conn, kDiagBadArg);
  auto* desc = static_cast<Descriptor*>(drv_alloc(conn, nullptr, sizeof(Descriptor)));
  if (desc == nullptr) return SQL_ERROR;
  // An explicit descriptor is an application descriptor; it describes rows
  // or parameters as the statements that use it say.
  desc->kind = DescriptorKind::kAppRow;
  desc->explicitly_allocated = 1;
  desc->connection = conn;
  desc->array_size = 1;
  desc->next = conn->descriptors;
  if (conn->descriptors != nullptr) conn->descriptors->prev = desc;
  conn->descriptors = desc;
  register_descriptor(desc);
  *out = desc;
  return SQL_SUCCESS;
}

SQLRETURN free_descriptor(Descriptor* desc) {
  if (!desc->explicitly_allocated) return post_descriptor_error(desc, kDiagAutoDescriptor);
  discard_descriptor(desc);
  return SQL_SUCCESS;
}

void free_explicit_descriptors(Connection* conn) {
  while (conn->descriptors != nullptr) discard_descriptor(conn->descriptors);
}

SQLRETURN set_statement_descriptor(Statement* stmt, SQLINTEGER attribute, SQLPOINTER value) {
  if (attribute == SQL_ATTR_IMP_ROW_DESC || attribute == SQL_ATTR_IMP_PARAM_DESC) {
    return post_error(stmt, kDiagAutoDescriptor);
  }
  const bool rows = attribute == SQL_ATTR_APP_ROW_DESC;
  Descriptor* own = rows ? &stmt->row_descriptor : &stmt->param_descriptor;
  Descriptor*& chosen = rows ? stmt->explicit_row_descriptor : stmt->explicit_param_descriptor;
  // A null handle or the statement's own descriptor: back to its own.
  if (value == SQL_NULL_HDESC || value == own) {
    chosen = nullptr;
    return SQL_SUCCESS;
  }
  Descriptor* desc = live_descriptor(value);
  if (desc == nullptr || desc->connection != stmt->connection) {
    return post_error(stmt, kDiagAttributeValue);
  }
  // Another statement's implicit descriptor cannot serve here.
  if (!desc->explicitly_allocated) return post_error(stmt, kDiagAutoDescriptor);
  chosen = desc;
  return SQL_SUCCESS;
}

SQLRETURN get_statement_descriptor(Statement* stmt, SQLINTEGER attribute, SQLPOINTER value) {
  if (value == nullptr) return post_error(stmt, kDiagInvalidArgument);
  SQLHDESC handle = nullptr;
  switch (attribute) {
    case SQL_ATTR_APP_ROW_DESC:
      handle = &app_row_desc(stmt);
      break;
    case SQL_ATTR_APP_PARAM_DESC:
      handle = &app_param_desc(stmt);
      break;
    case SQL_ATTR_IMP_ROW_DESC:
      handle = &stmt->result_descriptor;
      break;
    default:
      handle = &stmt->marker_descriptor;
      break;
  }
  memcpy(value, &handle, sizeof handle);
  return SQL_SUCCESS;
}

SQLRETURN copy_desc(Descriptor* source, Descriptor* target) {
  if (!is_application(*target)) {
    return post_descriptor_error(
        target, target->kind == DescriptorKind::kImpRow ? kDiagImpRowDescriptor : kDiagNotCapable);
  }
  if (source == target) return SQL_SUCCESS;
  if (source->kind == DescriptorKind::kImpRow) return copy_result_columns(source, target);
  if (!is_application(*source)) return post_descriptor_error(target, kDiagNotCapable);
  target->array_size = source->array_size;
  target->bind_type = source->bind_type;
  target->bind_offset = source->bind_offset;
  target->array_status = source->array_status;
  return copy_records(*source, target);
}

}  // namespace q4
