#include "recording/activity.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "recording/frame_clock.h"

namespace {

// Reads the bits of a unit's payload, dropping emulation-prevention bytes
// (the 03 of 00 00 03), never past `end`.
struct HeaderBits {
  const uint8_t* p;
  const uint8_t* end;
  int zeros = 0;     // zero bytes just read, for spotting 00 00 03
  uint32_t byte = 0;
  int left = 0;      // bits of `byte` not yet read
  bool overrun = false;

  int bit() {
    if (left == 0) {
      if (zeros >= 2 && p < end && *p == 3) {
        ++p;
        zeros = 0;
      }
      if (p >= end) {
        overrun = true;
        return 0;
      }
      byte = *p++;
      zeros = byte == 0 ? zeros + 1 : 0;
      left = 8;
    }
    --left;
    return static_cast<int>((byte >> left) & 1);
  }

  // An unsigned Exp-Golomb number; sets `overrun` when it does not fit.
  uint32_t exp_golomb() {
    int leading = 0;
    while (bit() == 0) {
      if (overrun || ++leading > 31) {
        overrun = true;
        return 0;
      }
    }
    uint32_t value = 0;
    for (int i = 0; i < leading; ++i) value = value << 1 | static_cast<uint32_t>(bit());
    return static_cast<uint32_t>((uint64_t{1} << leading) - 1 + value);
  }
};

// The value at `share` (0..1) of the way up `values` (reordered); 0 when empty.
double quantile(std::vector<double>& values, double share) {
  if (values.empty()) return 0.0;
  const auto at = static_cast<size_t>(share * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

struct Pictures {
  const std::vector<double>& times;
  const std::vector<int64_t>& sizes;
  const std::vector<bool>& key;
};

// The block of kBaselineBlockS a time falls in (times before 0 in the first).
size_t block_of(double t) {
  constexpr double kLastBlock = 1e12;  // far past any recording; keeps the cast defined
  return static_cast<size_t>(std::clamp(t / kBaselineBlockS, 0.0, kLastBlock));
}

// The usual size for each measured (non-key) picture, in order (see the
// header). Blocks are kept only where pictures are, so a long gap in the
// camera's clock costs nothing.
std::vector<double> usual_sizes(const Pictures& pictures, const std::vector<size_t>& measured) {
  // Blocks with too few predicted pictures to say what is usual stay out.
  constexpr size_t kMinBlockPictures = 3;
  std::vector<size_t> numbers;  // blocks with their own figure, in time order
  std::vector<double> own, sizes, all, keys;
  for (size_t k = 0; k < pictures.times.size(); ++k) {
    if (pictures.key[k]) keys.push_back(static_cast<double>(pictures.sizes[k]));
  }
  for (size_t i = 0; i < measured.size();) {
    const size_t number = block_of(pictures.times[measured[i]]);
    sizes.clear();
    for (; i < measured.size() && block_of(pictures.times[measured[i]]) == number; ++i) {
      sizes.push_back(static_cast<double>(pictures.sizes[measured[i]]));
    }
    all.insert(all.end(), sizes.begin(), sizes.end());
    if (sizes.size() < kMinBlockPictures) continue;
    numbers.push_back(number);
    own.push_back(quantile(sizes, kBaselineQuantile));
  }
  const double floor = std::max(1.0, kBaselineFloorOfKey * quantile(keys, 0.5));
  const double whole = quantile(all, kBaselineQuantile);
  const auto reach = static_cast<size_t>(std::lround(kBaselineHalfWindowS / kBaselineBlockS));
  std::vector<double> usual(measured.size()), near;
  size_t lo = 0, hi = 0;  // numbers[lo, hi) lie within reach of the current block
  for (size_t i = 0; i < measured.size(); ++i) {
    const size_t number = block_of(pictures.times[measured[i]]);
    if (i > 0 && number == block_of(pictures.times[measured[i - 1]])) {
      usual[i] = usual[i - 1];
      continue;
    }
    while (lo < numbers.size() && numbers[lo] + reach < number) ++lo;
    hi = std::max(hi, lo);
    while (hi < numbers.size() && numbers[hi] <= number + reach) ++hi;
    near.assign(own.begin() + static_cast<std::ptrdiff_t>(lo),
                own.begin() + static_cast<std::ptrdiff_t>(hi));
    usual[i] = std::max(floor, near.empty() ? whole : quantile(near, 0.5));
  }
  return usual;
}

// Each picture's level: the median of the non-key levels within
// kSmoothingHalfWindowS of it, 0 when there are none.
std::vector<float> smoothed_levels(const std::vector<double>& times, const std::vector<size_t>& measured,
                                   const std::vector<double>& raw) {
  std::vector<float> levels(times.size(), 0.0f);
  std::vector<double> window;
  size_t first = 0, last = 0;  // measured[first, last) lie within the window
  for (size_t k = 0; k < times.size(); ++k) {
    while (first < measured.size() && times[measured[first]] < times[k] - kSmoothingHalfWindowS) {
      ++first;
    }
    last = std::max(last, first);
    while (last < measured.size() && times[measured[last]] <= times[k] + kSmoothingHalfWindowS) {
      ++last;
    }
    if (first == last) continue;
    window.assign(raw.begin() + static_cast<std::ptrdiff_t>(first),
                  raw.begin() + static_cast<std::ptrdiff_t>(last));
    // The lower middle of an even count: an edge counts once half is past it.
    levels[k] = static_cast<float>(quantile(window, 0.5));
  }
  return levels;
}

}  // namespace

bool is_intra_slice(const NalUnit& slice) {
  if (slice.type == 5) return true;
  if (slice.type != 1 || slice.size < 2) return false;
  HeaderBits bits{slice.data + 1, slice.data + slice.size};
  bits.exp_golomb();  // first_mb_in_slice
  const uint32_t slice_type = bits.exp_golomb();
  return !bits.overrun && (slice_type % 5 == 2 || slice_type % 5 == 4);
}

namespace {

const NalUnit& slice_of(const Recording& recording, size_t k) {
  return recording.units[static_cast<size_t>(recording.frames[k])];
}

bool kinds_known(const Recording& recording) { return recording.frame_kinds.size() >= recording.frames.size(); }

}  // namespace

bool frame_starts_picture(const Recording& recording, size_t k) {
  if (kinds_known(recording)) return (recording.frame_kinds[k] & kFrameStartsPicture) != 0;
  return starts_picture(slice_of(recording, k));
}

bool frame_is_intra(const Recording& recording, size_t k) {
  if (kinds_known(recording)) return (recording.frame_kinds[k] & kFrameIntra) != 0;
  return is_intra_slice(slice_of(recording, k));
}

ActivityProfile activity_from_sizes(const std::vector<double>& times,
                                    const std::vector<int64_t>& sizes,
                                    const std::vector<bool>& key, double duration) {
  ActivityProfile profile;
  profile.duration = duration;
  profile.times = times;
  std::vector<size_t> measured;
  for (size_t k = 0; k < times.size(); ++k) {
    if (!key[k]) measured.push_back(k);
  }
  const std::vector<double> usual = usual_sizes({times, sizes, key}, measured);
  std::vector<double> raw(measured.size());
  for (size_t i = 0; i < measured.size(); ++i) {
    raw[i] = static_cast<double>(sizes[measured[i]]) / usual[i];
  }
  profile.levels = smoothed_levels(times, measured, raw);
  return profile;
}

ActivityProfile measure_activity(const Recording& recording) {
  std::vector<double> times;
  std::vector<int64_t> sizes;
  std::vector<bool> key;
  // Sizes and the index's reading of each slice: a mapped recording's pages
  // stay out of memory however often it is measured.
  for (size_t k = 0; k < recording.frames.size() && k < recording.frame_times.size(); ++k) {
    if (k == 0 || frame_starts_picture(recording, k)) {
      times.push_back(recording.frame_times[k]);
      sizes.push_back(0);
      key.push_back(false);
    }
    sizes.back() += slice_of(recording, k).size;
    if (frame_is_intra(recording, k)) key.back() = true;
  }
  return activity_from_sizes(times, sizes, key, recording_duration(recording));
}

float activity_between(const ActivityProfile& profile, double from, double to) {
  const auto& times = profile.times;
  auto it = std::lower_bound(times.begin(), times.end(), from);
  float highest = 0.0f;
  if (it != times.begin() && (it == times.end() || *it > from)) {
    highest = profile.levels[static_cast<size_t>(it - times.begin()) - 1];
  }
  for (; it != times.end() && *it < to; ++it) {
    highest = std::max(highest, profile.levels[static_cast<size_t>(it - times.begin())]);
  }
  return highest;
}

std::vector<float> activity_per_second(const ActivityProfile& profile) {
  const auto seconds = static_cast<int>(std::ceil(profile.duration - 1e-9));
  std::vector<float> figures;
  for (int s = 0; s < seconds; ++s) figures.push_back(activity_between(profile, s, s + 1.0));
  return figures;
}

std::vector<float> activity_buckets(const ActivityProfile& profile, int count) {
  std::vector<float> figures;
  for (int i = 0; i < count; ++i) {
    figures.push_back(activity_between(profile, profile.duration * i / count,
                                       profile.duration * (i + 1) / count));
  }
  return figures;
}

float activity_strength(float level) {
  if (!(level > 1.0f)) return 0.0f;
  const double strength = std::log(level) / std::log(kFullStrengthLevel);
  return static_cast<float>(std::min(1.0, strength));
}

std::vector<ActivityStretch> find_activity_stretches(const ActivityProfile& profile) {
  const size_t count = profile.times.size();
  auto end_of = [&](size_t k) { return k + 1 < count ? profile.times[k + 1] : profile.duration; };
  std::vector<ActivityStretch> runs;
  for (size_t k = 0; k < count;) {
    if (profile.levels[k] < kActiveLevel) {
      ++k;
      continue;
    }
    size_t last = k;
    while (last + 1 < count && profile.levels[last + 1] >= kActiveLevel) ++last;
    const ActivityStretch run{profile.times[k], std::max(profile.times[k], end_of(last))};
    if (run.to - run.from >= kMinStretchS) runs.push_back(run);
    k = last + 1;
  }
  std::vector<ActivityStretch> stretches;
  for (const ActivityStretch& run : runs) {
    if (!stretches.empty() && run.from - stretches.back().to < kMergeGapS) {
      stretches.back().to = run.to;
    } else {
      stretches.push_back(run);
    }
  }
  return stretches;
}

std::optional<double> next_activity_start(const std::vector<ActivityStretch>& stretches,
                                          double t) {
  for (const ActivityStretch& s : stretches) {
    if (s.from > t) return s.from;
  }
  return std::nullopt;
}

std::optional<double> previous_activity_start(const std::vector<ActivityStretch>& stretches,
                                              double t) {
  std::optional<double> found;
  for (const ActivityStretch& s : stretches) {
    if (s.from < t - kPreviousSlackS) found = s.from;
  }
  return found;
}
