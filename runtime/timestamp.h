#pragma once
#include <ostream>

// Writes the local date and time as "%d/%m %H:%M:%S"; nothing when the time
// cannot be read or converted.
std::ostream& timestamp(std::ostream& os);
