#include "status/zelerrException.h"

namespace zelerr {

ExceptionBase::~ExceptionBase() { status_.releaseText(); }

const char *ExceptionBase::description() const noexcept {
    return status_.text != nullptr ? status_.text : "";
}

Exception::Exception(nZELSMBUS000::tJsonStatus &source) noexcept {
    bool ok = true;
    status_.merge(source, ok);
}

Exception::Exception(const Exception &other) noexcept : ExceptionBase(), std::exception(other) {
    bool ok = true;
    status_.merge(other.status_, ok);
}

Exception::~Exception() = default;

const char *Exception::what() const noexcept { return description(); }

}  // namespace zelerr
