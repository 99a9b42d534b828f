#pragma once

#include <QString>

#include <stdexcept>

// A failed statement: carries the run-time error number and the description
// that the error report shows. Thrown by statements that an error trap guards.
class VbError : public std::runtime_error {
public:
    VbError(int number, const QString& description);

    int number() const { return number_; }
    const QString& description() const { return description_; }

    static VbError invalidProcedureCall();
    static VbError overflow();
    static VbError outOfMemory();
    static VbError divisionByZero();
    static VbError typeMismatch();
    static VbError fileNotFound();
    static VbError permissionDenied();
    static VbError pathNotFound();
    static VbError deviceIOError();

    static constexpr int InvalidProcedureCall = 5;
    static constexpr int Overflow = 6;
    static constexpr int OutOfMemory = 7;
    static constexpr int DivisionByZero = 11;
    static constexpr int TypeMismatch = 13;
    static constexpr int FileNotFound = 53;
    static constexpr int DeviceIOError = 57;
    static constexpr int PermissionDenied = 70;
    static constexpr int PathNotFound = 76;

private:
    int number_;
    QString description_;
};

// Thrown out of a user-interface yield once the main window has been closed:
// it unwinds a long run to its event procedure without finishing it. Not an
// std::exception on purpose, so that no error trap reports or swallows it.
struct RunAborted {};
