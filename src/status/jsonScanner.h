// Checks that a text begins with a well-formed JSON object or array.
#pragma once

namespace nZELSMBUS000 {

// Position of the closing bracket of the object or array that starts at
// text[0] (no white space before it), or null when it does not scan. What
// follows the closing bracket is not looked at.
const char *scanJsonContainer(const char *text);

}  // namespace nZELSMBUS000
