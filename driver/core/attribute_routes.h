// Attribute numbers routed by ranges: the connection and statement attribute
// functions each keep a table of (first, last, route), searched in order so
// that a single number listed before a range that holds it wins.
#pragma once

#include <sql.h>

#include <cstddef>

namespace q4 {

template <typename Route>
struct AttributeRange {
  SQLINTEGER first;
  SQLINTEGER last;
  Route route;
};

// The route of `attribute` in `table`, or `unknown`.
template <typename Route, size_t N>
constexpr Route route_in(const AttributeRange<Route> (&table)[N], SQLINTEGER attribute,
                         Route unknown) {
  for (const AttributeRange<Route>& range : table) {
    if (attribute >= range.first && attribute <= range.last) return range.route;
  }
  return unknown;
}

}  // namespace q4
