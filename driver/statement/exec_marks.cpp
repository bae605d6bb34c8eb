#include "statement/exec_marks.h"

#include "results/result_set.h"

namespace q4 {

void reset_data_at_exec(Statement* stmt) {
  for (ParamBinding* b = app_param_desc(stmt).records; b != nullptr; b = b->next) {
    b->piece_length = 0;
    b->piece_seen = 0;
    b->complete = 0;
  }
  end_piecewise_read(stmt);
}

void hand_over_pieces(Statement* stmt) {
  for (ParamBinding* b = app_param_desc(stmt).records; b != nullptr; b = b->next) {
    if (b->piece_length == 0) continue;
    // A data-at-execution binding always has an indicator (that is how it
    // asked for data); the check keeps a damaged binding from crashing.
    if (b->indicator != nullptr) *b->indicator = b->piece_length;
    b->piece_length = 0;
    b->value = b->piece_data;
    b->piece_data = nullptr;
  }
}

}  // namespace q4
