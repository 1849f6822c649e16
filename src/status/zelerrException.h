// Exceptions that carry a tJsonStatus; used only inside the chassis-query layer.
#pragma once

#include <cstdint>
#include <exception>

#include "status/tJsonStatus.h"

namespace zelerr {

class ExceptionBase {
public:
    ExceptionBase() noexcept = default;
    ExceptionBase(const ExceptionBase &) = delete;
    ExceptionBase &operator=(const ExceptionBase &) = delete;
    virtual ~ExceptionBase();

    // The JSON text of the status, or "" when there is none.
    virtual const char *description() const noexcept;

    int32_t code() const noexcept { return status_.code; }
    const nZELSMBUS000::tJsonStatus &status() const noexcept { return status_; }

protected:
    // Mutable so that copying an exception can move the text out of the source.
    mutable nZELSMBUS000::tJsonStatus status_;
};

class Exception : public virtual ExceptionBase, public virtual std::exception {
public:
    // Takes the source's code and text (moved when both share a buffer routine).
    explicit Exception(nZELSMBUS000::tJsonStatus &source) noexcept;
    Exception(const Exception &other) noexcept;
    Exception &operator=(const Exception &) = delete;
    ~Exception() override;

    const char *what() const noexcept override;
};

}  // namespace zelerr
