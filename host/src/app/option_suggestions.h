// What bvhost says back about a word it does not know: the known words it
// was most likely a slip of, and the full list to choose from.
#pragma once

#include <string>
#include <vector>

namespace bvhost {

// The known words nearest to what was typed, as " (did you mean X?)", or
// nothing when none is near enough to be a slip rather than another word:
// up to one edit in two letters of the known word, a start of it at least
// three letters long, or the word with more typed after it. Dashes are
// left out of the comparison, so -out and ---out are slips of --out too.
std::string suggestion(const std::string& typed, const std::vector<std::string>& known);

// Every option of a command, in the order --help gives them, so that the
// message naming them reads as the usage does.
std::string optionList(const std::vector<std::string>& options);

}  // namespace bvhost
