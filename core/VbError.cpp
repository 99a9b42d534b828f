#include "core/VbError.h"

VbError::VbError(int number, const QString& description)
    : std::runtime_error(description.toStdString()), number_(number), description_(description) {}

VbError VbError::invalidProcedureCall() {
    return {InvalidProcedureCall, QStringLiteral("Invalid procedure call or argument")};
}
VbError VbError::overflow() {
    return {Overflow, QStringLiteral("Overflow")};
}
VbError VbError::outOfMemory() {
    return {OutOfMemory, QStringLiteral("Out of memory")};
}
VbError VbError::divisionByZero() {
    return {DivisionByZero, QStringLiteral("Division by zero")};
}
VbError VbError::typeMismatch() {
    return {TypeMismatch, QStringLiteral("Type mismatch")};
}
VbError VbError::fileNotFound() {
    return {FileNotFound, QStringLiteral("File not found")};
}
VbError VbError::permissionDenied() {
    return {PermissionDenied, QStringLiteral("Permission denied")};
}
VbError VbError::pathNotFound() {
    return {PathNotFound, QStringLiteral("Path not found")};
}
VbError VbError::deviceIOError() {
    return {DeviceIOError, QStringLiteral("Device I/O error")};
}
