#pragma once
// Errors raised by the synthesis and the number conversion. The texts are the
// ones the user sees in the error box, so they must not be reworded.
#include <stdexcept>
#include <string>

namespace zelvo {

class EZelvoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text that is not a number.
class EConvertError : public EZelvoError {
public:
    using EZelvoError::EZelvoError;
};

// The three floating-point faults. They are raised instead of letting an
// infinity or a NaN into the signal.
class EInvalidOp : public EZelvoError {
public:
    EInvalidOp() : EZelvoError("Invalid floating point operation") {}
};

class EZeroDivide : public EZelvoError {
public:
    EZeroDivide() : EZelvoError("Floating point division by zero") {}
};

class EOverflow : public EZelvoError {
public:
    EOverflow() : EZelvoError("Floating point overflow") {}
};

// Periods that cannot be represented (frame count, WAV size limit).
class ERangeError : public EZelvoError {
public:
    using EZelvoError::EZelvoError;
};

} // namespace zelvo
