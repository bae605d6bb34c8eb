#include "results/desc_records.h"

#include <sql.h>
#include <sqlext.h>

#include "core/memory.h"

namespace q4 {

DescRecord* find_record(const Descriptor& desc, uint16_t number) {
  for (DescRecord* r = desc.records; r != nullptr && r->number <= number; r = r->next) {
    if (r->number == number) return r;
  }
  return nullptr;
}

DescRecord* find_or_add_record(Descriptor& desc, uint16_t number, Statement* stmt) {
  DescRecord** link = &desc.records;
  while (*link != nullptr && (*link)->number < number) link = &(*link)->next;
  if (*link != nullptr && (*link)->number == number) return *link;
  auto* record = static_cast<DescRecord*>(drv_alloc(nullptr, stmt, sizeof(DescRecord)));
  if (record == nullptr) return nullptr;
  record->number = number;
  record->next = *link;
  *link = record;
  count_irregular_records(desc);
  return record;
}

void drop_record(Descriptor& desc, uint16_t number) {
  for (DescRecord** link = &desc.records; *link != nullptr; link = &(*link)->next) {
    DescRecord* record = *link;
    if (record->number != number) continue;
    *link = record->next;
    drv_free(record->buffer);
    drv_free(record);
    count_irregular_records(desc);
    return;
  }
}

void drop_records_above(Descriptor& desc, uint16_t count) {
  DescRecord** link = &desc.records;
  while (*link != nullptr && (*link)->number <= count) link = &(*link)->next;
  DescRecord* record = *link;
  *link = nullptr;
  while (record != nullptr) {
    DescRecord* next = record->next;
    drv_free(record->buffer);
    drv_free(record);
    record = next;
  }
  count_irregular_records(desc);
}

void count_irregular_records(Descriptor& desc) {
  uint16_t count = 0;
  for (const DescRecord* r = desc.records; r != nullptr; r = r->next) {
    if (r->delivery != RecordDelivery::kPlain) ++count;
  }
  desc.irregular_records = count;
}

void refresh_delivery(Descriptor& desc, DescRecord& record) {
  if (record.value == nullptr) {
    record.delivery = RecordDelivery::kUnbound;
  } else if (record.c_type == SQL_C_NUMERIC && record.numeric_precision != 0) {
    record.delivery = RecordDelivery::kNumeric;
  } else {
    record.delivery = RecordDelivery::kPlain;
  }
  count_irregular_records(desc);
}

uint16_t highest_record(const Descriptor& desc) {
  uint16_t highest = 0;
  for (const DescRecord* r = desc.records; r != nullptr; r = r->next) highest = r->number;
  return highest;
}

}  // namespace q4
