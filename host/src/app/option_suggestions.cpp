#include "app/option_suggestions.h"

#include <algorithm>

namespace bvhost {
namespace {

// Edits between two words, a swap of neighbours counting as one: "--seocnds"
// is as near "--seconds" as a single wrong letter.
std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string withoutDashes(const std::string& word) {
  const auto start = word.find_first_not_of('-');
  return start == std::string::npos ? std::string() : word.substr(start);
}

}  // namespace

std::string suggestion(const std::string& typed, const std::vector<std::string>& known) {
  const std::string bare = withoutDashes(typed);
  if (bare.empty()) {
    return "";
  }
  std::size_t best = std::string::npos;
  std::vector<std::string> nearest;
  for (const auto& word : known) {
    const std::string candidate = withoutDashes(word);
    std::size_t distance = editDistance(bare, candidate);
    if (distance > std::max<std::size_t>(1, candidate.size() / 2)) {
      // A start of the word (--sec) or the word with more after it
      // (--output for --out) rank behind every slip of similar length.
      if (bare.size() >= 3 && candidate.rfind(bare, 0) == 0) {
        distance = candidate.size();
      } else if (candidate.size() >= 3 && bare.rfind(candidate, 0) == 0) {
        distance = bare.size();
      } else {
        continue;
      }
    }
    if (distance < best) {
      best = distance;
      nearest.clear();
    }
    if (distance == best) {
      nearest.push_back(word);
    }
  }
  if (nearest.empty()) {
    return "";
  }
  std::string text = " (did you mean " + nearest[0];
  for (std::size_t i = 1; i < nearest.size(); ++i) {
    text += (i + 1 == nearest.size() ? " or " : ", ") + nearest[i];
  }
  return text + "?)";
}

std::string optionList(const std::vector<std::string>& options) {
  std::string text;
  for (const auto& option : options) {
    text += (text.empty() ? "" : ", ") + option;
  }
  return text;
}

}  // namespace bvhost
