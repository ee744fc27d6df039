#include "mseed/sds_merge.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <utility>

namespace pk::sds {

Micros sample_time(const Piece& p, int64_t i) {
  if (p.rate <= 0) return p.start;
  return p.start + std::llround(static_cast<double>(i) * 1e6 / p.rate);
}

namespace {

// Disjoint closed time intervals, keyed by their first instant.
class Covered {
 public:
  bool any_within(Micros lo, Micros hi) const {
    auto it = spans_.upper_bound(hi);
    return it != spans_.begin() && std::prev(it)->second >= lo;
  }
  bool contains(Micros t) const { return any_within(t, t); }
  bool contains_all(Micros lo, Micros hi) const {
    auto it = spans_.upper_bound(lo);
    return it != spans_.begin() && std::prev(it)->second >= hi;
  }
  void add(Micros lo, Micros hi) {
    auto it = spans_.upper_bound(hi);
    while (it != spans_.begin()) {
      auto before = std::prev(it);
      if (before->second < lo) break;
      lo = std::min(lo, before->first);
      hi = std::max(hi, before->second);
      spans_.erase(before);
    }
    spans_.emplace(lo, hi);
  }

 private:
  std::map<Micros, Micros> spans_;
};

// First sample index at or after time t (0 to samples).
int64_t first_at_or_after(const Piece& p, Micros t) {
  if (p.rate <= 0) return p.start >= t ? 0 : p.samples;
  auto i = static_cast<int64_t>(std::floor(static_cast<double>(t - p.start) * p.rate / 1e6));
  i = std::clamp<int64_t>(i, 0, p.samples);
  while (i > 0 && sample_time(p, i - 1) >= t) --i;
  while (i < p.samples && sample_time(p, i) < t) ++i;
  return i;
}

// Records without a time series (or without samples) count as one instant, their start.
bool is_point(const Piece& p) { return p.rate <= 0 || p.samples == 0; }

Micros half_interval(const Piece& p) { return p.rate > 0 ? static_cast<Micros>(5e5 / p.rate) : 0; }

// The runs of samples [lo, hi) of piece `k` that `covered` leaves free.
void add_free_runs(const std::vector<Piece>& ranked, std::size_t k, int64_t lo, int64_t hi,
                   const Covered& covered, std::vector<Cut>& cuts) {
  const Piece& p = ranked[k];
  auto push = [&](int64_t first, int64_t end) {
    cuts.push_back({k, first, end - first, sample_time(p, first), first == 0 && end == p.samples});
  };
  if (is_point(p)) {  // all of it or nothing, by its start
    if (!covered.contains(p.start)) push(0, p.samples);
    return;
  }
  Micros first = sample_time(p, lo), last = sample_time(p, hi - 1);
  if (!covered.any_within(first, last)) return push(lo, hi);
  if (covered.contains_all(first, last)) return;
  int64_t run = -1;
  for (int64_t i = lo; i < hi; ++i) {
    bool free = !covered.contains(sample_time(p, i));
    if (free && run < 0) run = i;
    if (!free && run >= 0) push(run, i), run = -1;
  }
  if (run >= 0) push(run, hi);
}

// The samples [first, second) of a piece that fall within [from, until).
std::pair<int64_t, int64_t> own_samples(const Piece& p) {
  if (is_point(p)) return {0, p.start >= p.from && p.start < p.until ? 1 : 0};
  return {first_at_or_after(p, p.from), first_at_or_after(p, p.until)};
}

}  // namespace

std::vector<Cut> resolve(const std::vector<Piece>& ranked) {
  std::vector<Cut> cuts;
  std::map<unsigned, Covered> by_channel;
  for (std::size_t k = ranked.size(); k-- > 0;) {
    const Piece& p = ranked[k];
    Covered& covered = by_channel[p.channel];
    const auto [lo, hi] = own_samples(p);
    if (lo >= hi) continue;
    add_free_runs(ranked, k, lo, hi, covered, cuts);
    if (!p.covers) continue;
    Micros h = half_interval(p);
    covered.add(sample_time(p, lo) - h, sample_time(p, hi - 1) + h);
  }
  std::stable_sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) { return a.start < b.start; });
  return cuts;
}

int64_t covering_samples_left_out(const std::vector<Piece>& ranked, const std::vector<Cut>& cuts) {
  int64_t left_out = 0;
  for (const Piece& p : ranked) {
    if (!p.covers) continue;
    const auto [lo, hi] = own_samples(p);
    left_out += std::max<int64_t>(hi - lo, 0);
  }
  for (const Cut& c : cuts)
    if (ranked[c.piece].covers) left_out -= c.count;
  return left_out;
}

namespace {

bool within(const Spans& spans, Micros t) {
  return std::any_of(spans.begin(), spans.end(), [t](const auto& s) { return s.first <= t && t <= s.second; });
}

bool meets(const Spans& spans, Micros first, Micros last) {
  return std::any_of(spans.begin(), spans.end(), [&](const auto& s) { return s.first <= last && first <= s.second; });
}

}  // namespace

int64_t old_samples_replaced_within(const std::vector<Piece>& ranked, const std::vector<Cut>& cuts,
                                    const Spans& spans) {
  std::map<std::size_t, std::vector<std::pair<int64_t, int64_t>>> kept;  // by piece: [first, end)
  for (const Cut& c : cuts) kept[c.piece].emplace_back(c.first, c.first + c.count);
  int64_t replaced = 0;
  for (std::size_t k = 0; k < ranked.size(); ++k) {
    const Piece& p = ranked[k];
    const auto [lo, hi] = own_samples(p);
    if (p.covers || p.channel != 0 || lo >= hi) continue;
    const auto& runs = kept[k];
    int64_t stay = 0;
    for (const auto& r : runs) stay += r.second - r.first;
    if (stay == hi - lo) continue;  // the common case, and the only one of a run without overlaps
    if (!meets(spans, sample_time(p, lo), sample_time(p, hi - 1))) continue;
    for (int64_t i = lo; i < hi; ++i) {
      const bool stays = std::any_of(runs.begin(), runs.end(), [i](const auto& r) { return r.first <= i && i < r.second; });
      if (!stays && within(spans, sample_time(p, i))) ++replaced;
    }
  }
  return replaced;
}

}  // namespace pk::sds
