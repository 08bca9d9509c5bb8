#pragma once

#include <string>

namespace tovik {

/// Appends the shortest decimal text that reads back as the same double, in whichever of
/// positional or exponent form is shorter ("0.1", "5", "1e+300", "nan", "-inf").
void appendShortestText(std::string& text, double value);
/// The same as a string of its own.
std::string shortestText(double value);

/// The shortest plain decimal that reads back as the same double, never in exponent form
/// ("100000.0", "0.0001"); a whole number keeps one decimal place ("5.0") so that a reader
/// can tell a measurement from a count.
std::string shortestPlainText(double value);

}  // namespace tovik
