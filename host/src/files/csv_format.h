// How every CSV file bvhost writes begins, which is how a CSV file is known
// as bvhost's: the first line, and the column names after it.
#pragma once

#include <string_view>

namespace bvhost {

// Followed by " of <plug-in> <version>, stream start <time>; ...".
inline constexpr const char* kCsvFirstLine = "# bvhost recording";
inline constexpr const char* kCsvColumns = "component,channel,unit,sample_index,time_s,value\n";

// Whether `start`, the beginning of a file, holds bvhost's whole first line
// and the header row after it: a file cut short before them holds no
// sample, and a file that merely begins with '#' may be anybody's.
bool beginsAsBvhostCsv(std::string_view start);

}  // namespace bvhost
