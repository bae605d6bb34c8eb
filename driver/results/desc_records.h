// The records of an application descriptor, kept in ascending number: the
// order a fetch fills bound columns in and markers take parameters in.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace q4 {

// The record numbered `number`, or null.
DescRecord* find_record(const Descriptor& desc, uint16_t number);

// The record numbered `number`, made (zero-filled, so unbound) when missing. Null when
// the block cannot be had ("S1001" posted on `stmt` when given).
DescRecord* find_or_add_record(Descriptor& desc, uint16_t number, Statement* stmt);

// Removes and frees the record numbered `number`, if there is one.
void drop_record(Descriptor& desc, uint16_t number);

// Removes and frees the records numbered above `count`.
void drop_records_above(Descriptor& desc, uint16_t count);

// Works out `record.delivery` from its data pointer, type, precision and
// scale, and counts `desc`'s irregular records anew: every change to a
// record of `desc` ends with it. (Adding and dropping records here count
// by themselves.)
void refresh_delivery(Descriptor& desc, DescRecord& record);

// Counts `desc`'s irregular records anew, after its records were replaced.
void count_irregular_records(Descriptor& desc);

// The highest record number (SQL_DESC_COUNT); 0 without records.
uint16_t highest_record(const Descriptor& desc);

}  // namespace q4
