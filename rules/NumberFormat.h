#pragma once

#include <QString>

namespace horavo {

// Numbers as the program writes them into text boxes: the general number format with
// at most 15 significant digits for double precision and 7 for single precision, "."
// as decimal point with a 0 before it below 1, no thousands separator, no trailing
// zeros and no decimal point for a whole number ("3", "2.25", "0.035").
//
// Beyond the digits the format can hold the exponent form takes over, as the old
// general format did: from 10^15 on for doubles ("1E+15", "1.5E+20"), from 10^7 on for
// singles ("1E+07"), and below 0.0001 for both ("1E-05"). Not-a-number and the
// infinities are written "NaN", "Infinity" and "-Infinity"; minus zero is "0".
QString formatDouble(double value);
QString formatSingle(float value);

// The same with a chosen number of significant digits (1 to 17).
QString formatGeneral(double value, int significantDigits);

} // namespace horavo
