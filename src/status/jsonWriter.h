// In-place JSON writer over a tJsonStatus text buffer. Positions point at the
// closing bracket of the object being filled; every insertion returns the
// position just after what it wrote (again that closing bracket), or null when
// the buffer has no room left, in which case the text is unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nZELSMBUS000 {

// Gives a position re-based into a bigger buffer, or null when it cannot grow.
using tJsonGrow = char *(*)(void *argument, char *position);

// Length of a text once escaped for a JSON string (without the quotes).
size_t escapedLength(const char *text);

char *addString(char *position, const char *key, const char *value);
char *addInteger(char *position, const char *key, int32_t value);
// Adds "key":{} and returns the position of the new object's closing bracket.
char *addObject(char *position, const char *key);
// From the closing bracket of an inner object to that of the enclosing one.
char *closeObject(char *position);

// Growing forms: on lack of room, grow and try again until the grow routine gives up.
char *addString(char *position, const char *key, const char *value, tJsonGrow grow, void *argument);
char *addInteger(char *position, const char *key, int32_t value, tJsonGrow grow, void *argument);
char *addObject(char *position, const char *key, tJsonGrow grow, void *argument);

}  // namespace nZELSMBUS000
