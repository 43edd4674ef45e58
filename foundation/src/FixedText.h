// Fixed-point text of the settings writer: six decimals rounded from the
// exact binary value (ties to even), the point always present, trailing
// zeros trimmed down to one digit after the point: 2 -> "2.0", 0.1 -> "0.1",
// 1e-9 -> "0.0", -0.0 -> "-0.0". The same text as fmt's "{:#f}" followed by
// trimZeros, without going through the general formatter.
#pragma once

#include <string>

namespace NSVextra {

void appendFixedTrimmed(double value, std::string& out);

} // namespace NSVextra
