// The confirm boxes of the full connect dialog: CONFDLGU (no user name given)
// and CONFDLGA (no account name given), each asking whether the name is to
// be entered at connect time.
#pragma once

#include "core/records.h"
#include "platform/dialog_ops.h"

namespace q4 {

// Shows the confirm box whose template name is the string resource
// `template_string` (kStrConfirmUserTemplate or kStrConfirmAccountTemplate)
// over `owner`. True when the user pressed OK; Cancel, closing the box, or a
// box that cannot be shown count as "no".
bool confirm_box(Window* owner, Connection* conn, unsigned template_string);

}  // namespace q4
