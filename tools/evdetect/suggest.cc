#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "host/event_json.h"
#include "tools/evdetect/commands.h"

namespace evdetect {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string nearest(std::string_view word, const std::vector<std::string>& known) {
  if (word.empty() || word.size() > 64) return {};
  const std::string w = lowered(word);
  // A third of the word may be wrong ("confg", "--lmit"), or it may be
  // the start of a longer name ("disab"), which beats a typo of another.
  // Distances are counted in halves so that the start can come first.
  const size_t limit = 2 * std::max<size_t>(2, w.size() / 3);
  std::string best;
  size_t bestDistance = limit + 1;
  for (const std::string& candidate : known) {
    const std::string c = lowered(candidate);
    const size_t d = c.rfind(w, 0) == 0 && w.size() >= 3 ? 1 : 2 * editDistance(w, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = candidate;
    }
  }
  return best;
}

std::string didYouMean(std::string_view word, const std::vector<std::string>& known) {
  const std::string n = nearest(word, known);
  return n.empty() ? "" : "; did you mean '" + n + "'?";
}

}  // namespace evdetect
