// The two ways a command ends early: a failure (exit 1) and a usage error (exit 2).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace zelsmbus_tool {

// A failed operation; code holds the library's status when one caused it.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string &message, std::optional<int32_t> code = std::nullopt,
                       std::string hint = {})
        : std::runtime_error(message), code_(code), hint_(std::move(hint)) {}
    std::optional<int32_t> code() const { return code_; }
    // A second line telling the user what to do instead, or empty.
    const std::string &hint() const { return hint_; }
    // Marks a failure that the command's JSON document already shows (a list
    // entry, a read-back mismatch): no separate error document is written.
    ToolError &shownInDocument() {
        shownInDocument_ = true;
        return *this;
    }
    bool isShownInDocument() const { return shownInDocument_; }

private:
    std::optional<int32_t> code_;
    std::string hint_;
    bool shownInDocument_ = false;
};

// A command line that names something impossible (an address out of range, an
// unknown mode); reported with the command's usage line.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws ToolError when status is an error; a warning passes (shown on the
// standard error stream unless it is the usual 50254).
void check(int32_t status, const std::string &what);
// As check, for a bus transaction: a refused protected address gets the hint that
// --unrestricted opens it (or the given hint, for what else the flag opens).
void checkTransfer(int32_t status, const std::string &what,
                   const char *protectedHint = "the address is protected; --unrestricted opens it");

}  // namespace zelsmbus_tool
