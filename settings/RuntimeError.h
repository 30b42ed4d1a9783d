#pragma once

#include <QString>

#include <stdexcept>

namespace krv {

// The program's one kind of run-time failure: a stable number and a
// description an operator can act on. The window's top level reports both.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const QString &description)
        : std::runtime_error(description.toStdString()), mNumber(number),
          mDescription(description) {}

    [[nodiscard]] int number() const noexcept { return mNumber; }
    [[nodiscard]] const QString &description() const noexcept { return mDescription; }

private:
    int mNumber;
    QString mDescription;
};

// Error numbers shared by more than one library.
namespace errors {
inline constexpr int SubscriptOutOfRange = 9;
} // namespace errors

} // namespace krv
