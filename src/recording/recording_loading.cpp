// Loading a recording: the file is mapped, then walked in bounded windows
// by the payload walk (on a thread of its own for open_recording), and the
// index grows batch by batch into the Recording on its owner's thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/mapped_file.h"
#include "recording/index_builder.h"
#include "recording/payload_walk.h"
#include "recording/recording.h"

struct IndexingJob {
  std::string path;
  std::shared_ptr<const MappedFile> file;  // the units point into it
  const uint8_t* payload = nullptr;
  int64_t length = 0;
  std::atomic<bool> stop{false};
  std::thread thread;
  // In the background, the walk holds back after the batch that brings the
  // first frames until the first picture is up (or kFirstPictureHoldMs
  // passed): decoding it has the machine to itself.
  bool hold_for_first_picture = false;
  std::atomic<bool> released{false};

  std::mutex mutex;  // guards the three below
  std::condition_variable changed;
  IndexBatch waiting;  // published and not yet taken, merged
  bool has_waiting = false;
  bool finished = false;  // the last batch was published
};

void IndexingJobStopper::operator()(IndexingJob* job) const {
  {
    std::lock_guard<std::mutex> lock(job->mutex);
    job->stop = true;
  }
  job->changed.notify_all();
  if (job->thread.joinable()) job->thread.join();
  delete job;
}

namespace {

// The first window is small: a player starts on its frames.
constexpr size_t kFirstPieceBytes = size_t{1} << 20;
constexpr int kFirstPictureHoldMs = 500;

template <typename T>
void append(std::vector<T>& to, std::vector<T>&& from) {
  if (to.empty()) {
    to = std::move(from);
  } else {
    to.insert(to.end(), from.begin(), from.end());
  }
}

// A later batch after an earlier one that was not taken yet.
void merge_batch(IndexBatch& into, IndexBatch&& later) {
  append(into.units, std::move(later.units));
  append(into.frames, std::move(later.frames));
  append(into.frame_kinds, std::move(later.frame_kinds));
  append(into.skipped, std::move(later.skipped));
  into.messages += later.messages;
  if (later.retimed) {
    into.frame_times = std::move(later.frame_times);
    into.sound = std::move(later.sound);
    into.retimed = true;
  } else {
    append(into.frame_times, std::move(later.frame_times));
    append(into.sound, std::move(later.sound));
  }
  into.indexed_bytes = later.indexed_bytes;
  into.time_origin = later.time_origin;
  into.fps = later.fps;
  into.clock_rate = later.clock_rate;
  into.complete = later.complete;
  into.status = later.status;
}

void publish(IndexingJob& job, IndexBatch&& batch) {
  std::lock_guard<std::mutex> lock(job.mutex);
  const bool last = batch.complete;
  if (job.has_waiting) {
    merge_batch(job.waiting, std::move(batch));
  } else {
    job.waiting = std::move(batch);
    job.has_waiting = true;
  }
  if (last) job.finished = true;
  job.changed.notify_all();
}

void hold_until_first_picture(IndexingJob& job) {
  if (!job.hold_for_first_picture || job.released) return;
  std::unique_lock<std::mutex> lock(job.mutex);
  job.changed.wait_for(lock, std::chrono::milliseconds(kFirstPictureHoldMs),
                       [&job] { return job.released || job.stop; });
  job.released = true;
}

LoadStatus walk_status(WalkEnd end, const IndexBuilder& builder) {
  switch (end) {
    case WalkEnd::finished:
    case WalkEnd::cancelled: return LoadStatus::ok;
    case WalkEnd::stopped: return builder.failure;
    case WalkEnd::failed: return LoadStatus::cannot_read;
    case WalkEnd::too_many_units: return LoadStatus::too_many_units;
  }
  return LoadStatus::ok;
}

// The whole walk, a batch published after every window; the last batch is
// published whatever happens, so a waiting owner always wakes.
void run_indexing(IndexingJob& job) {
  IndexBuilder builder = start_index_builder(job.payload, job.length);
  LoadStatus end = LoadStatus::ok;
  try {
    PayloadReader reader;
    reader.first_piece_bytes = kFirstPieceBytes;
    std::string reason;
    if (!open_payload_reader(reader, job.path, &reason, 0, job.length)) {
      end = LoadStatus::cannot_read;
    } else {
      const WalkEnd walked = walk_payload(
          reader, [&builder](const StreamItem& item) { return add_index_item(builder, item); },
          &job.stop, [&](float) {
            publish(job, take_index_batch(builder, false));
            if (builder.frame_count > 0) hold_until_first_picture(job);
          });
      end = walk_status(walked, builder);
    }
    publish(job, take_index_batch(builder, true, end));
  } catch (const std::bad_alloc&) {
    IndexBatch last;
    last.complete = true;
    last.status = LoadStatus::out_of_memory;
    publish(job, std::move(last));
  } catch (const std::system_error&) {  // no thread for reading ahead
    IndexBatch last;
    last.complete = true;
    last.status = LoadStatus::cannot_read;
    publish(job, std::move(last));
  }
}

// The last "HXVF" header in the payload's final few MiB, for the duration
// before the index reaches it. Its pages are released again.
void find_end_header(Recording& r) {
  constexpr size_t kLookBack = size_t{4} << 20;
  const size_t from = r.length > kLookBack ? r.length - kLookBack : 0;
  const size_t at = find_last_hxvf(r.payload() + from, r.length - from);
  if (at != SIZE_MAX) {
    r.has_end_header = true;
    r.end_header_ts = read_le32(r.payload() + from + at + 8);
  }
  release_mapped_pages(*r.file, static_cast<int64_t>(kFileHeaderSize + from),
                       static_cast<int64_t>(kFileHeaderSize + r.length));
}

LoadStatus start_job(Recording& r, const std::string& path, bool background) {
  r.indexing.reset(new IndexingJob);
  IndexingJob& job = *r.indexing;
  job.path = path;
  job.file = r.file;
  job.payload = r.payload();
  job.length = static_cast<int64_t>(r.length);
  if (background) {
    job.hold_for_first_picture = true;
    try {
      job.thread = std::thread(run_indexing, std::ref(job));
      return LoadStatus::ok;
    } catch (const std::system_error&) {
      // No thread to spare: the index is built here, whole.
    }
  }
  run_indexing(job);
  return LoadStatus::ok;
}

void apply_batch(Recording& r, IndexBatch&& batch, IndexGrowth& growth) {
  growth.first_new_unit = r.units.size();
  growth.new_units = batch.units.size();
  append(r.units, std::move(batch.units));
  growth.first_new_frame = r.frames.size();
  growth.new_frames = batch.frames.size();
  append(r.frames, std::move(batch.frames));
  append(r.frame_kinds, std::move(batch.frame_kinds));
  growth.retimed = batch.retimed;
  if (batch.retimed) {
    growth.first_new_block = 0;
    growth.new_blocks = batch.sound.size();
    r.frame_times = std::move(batch.frame_times);
    r.sound = std::move(batch.sound);
  } else {
    growth.first_new_block = r.sound.size();
    growth.new_blocks = batch.sound.size();
    append(r.frame_times, std::move(batch.frame_times));
    append(r.sound, std::move(batch.sound));
  }
  append(r.skipped, std::move(batch.skipped));
  std::fputs(batch.messages.c_str(), stdout);
  r.indexed_bytes = batch.indexed_bytes;
  r.time_origin = batch.time_origin;
  r.fps = batch.fps;
  r.clock_rate = batch.clock_rate;
  if (batch.complete) {
    r.index_complete = true;
    r.index_status = batch.status;
    growth.completed = true;
  }
}

// Why a recording whose index holds what it holds now cannot be played.
LoadStatus playable_status(const Recording& r) {
  if (r.index_complete && r.index_status != LoadStatus::ok) return r.index_status;
  if (r.index_complete && r.units.empty()) return LoadStatus::no_nal_units;
  if (r.index_complete && r.frames.empty()) return LoadStatus::no_video_frames;
  return LoadStatus::ok;
}

// Maps, indexes (in the background or here) and takes the index in up to
// its first frame or, with `whole`, to its end.
LoadStatus open_and_index(const std::string& path, Recording& out, bool whole) {
  try {
    LoadStatus status = read_recording_payload(path, out);
    if (status != LoadStatus::ok) return status;
    if (!whole) find_end_header(out);
    start_job(out, path, !whole);
    IndexingJob& job = *out.indexing;
    {
      std::unique_lock<std::mutex> lock(job.mutex);
      job.changed.wait(lock, [&] {
        return job.finished || (!whole && job.has_waiting && !job.waiting.frames.empty());
      });
    }
    absorb_index_progress(out);
    return playable_status(out);
  } catch (const std::bad_alloc&) {
    return LoadStatus::out_of_memory;
  }
}

bool fail_loading(const std::string& path, Recording& out, LoadStatus status, LoadStatus* status_out) {
  if (status_out) *status_out = status;
  std::fputs(load_error_message(status, path).c_str(), stdout);
  out = Recording{};
  return false;
}

}  // namespace

IndexGrowth absorb_index_progress(Recording& r) {
  IndexGrowth growth;
  if (!r.indexing) return growth;
  IndexBatch batch;
  {
    std::lock_guard<std::mutex> lock(r.indexing->mutex);
    if (!r.indexing->has_waiting) return growth;
    batch = std::move(r.indexing->waiting);
    r.indexing->waiting = IndexBatch{};
    r.indexing->has_waiting = false;
  }
  apply_batch(r, std::move(batch), growth);
  if (growth.completed) r.indexing.reset();
  return growth;
}

void release_index_hold(Recording& r) {
  if (!r.indexing || r.indexing->released) return;
  {
    std::lock_guard<std::mutex> lock(r.indexing->mutex);
    r.indexing->released = true;
  }
  r.indexing->changed.notify_all();
}

bool open_recording(const std::string& path, Recording& out, LoadStatus* status_out) {
  out = Recording{};
  const LoadStatus status = open_and_index(path, out, false);
  if (status != LoadStatus::ok) return fail_loading(path, out, status, status_out);
  if (status_out) *status_out = status;
  return true;
}

bool load_recording(const std::string& path, Recording& out, LoadStatus* status_out) {
  out = Recording{};
  const LoadStatus status = open_and_index(path, out, true);
  if (status != LoadStatus::ok) return fail_loading(path, out, status, status_out);
  if (status_out) *status_out = status;
  std::fputs(loaded_line(out).c_str(), stdout);
  return true;
}

double indexed_time(const Recording& r) { return r.frame_times.empty() ? 0.0 : r.frame_times.back(); }

double estimated_duration(const Recording& r) {
  const double indexed = recording_duration(r);
  if (r.index_complete || r.indexed_bytes <= 0) return indexed;
  const double by_bytes = indexed * static_cast<double>(r.length) / static_cast<double>(r.indexed_bytes);
  double estimate = by_bytes;
  if (r.has_end_header) {
    // The camera's own span, trusted when it roughly agrees with the bytes
    // (a clock that jumped would stretch it).
    const double by_clock =
        static_cast<int32_t>(r.end_header_ts - r.time_origin) / 1000.0 + 1.0 / r.clock_rate;
    if (by_clock >= 0.5 * by_bytes && by_clock <= 2.0 * by_bytes) estimate = by_clock;
  }
  return std::max(indexed, estimate);
}
