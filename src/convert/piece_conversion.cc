#include "convert/piece_conversion.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>

#include "convert/row_conversion.h"
#include "streams/file_access.h"
#include "streams/fresh_memory.h"
#include "streams/output_stream.h"
#include "streams/side_thread.h"
#include "streams/source_stream.h"

namespace quillantrex {

namespace {

constexpr char CTRL_Z = '\x1A';
constexpr char LF = '\n';
// The first byte of a byte-order mark, which a stream skips at the start of
// its file: no piece starts with it.
constexpr char MARK_START = '\xEF';
// A piece that reaches to the end of the text.
constexpr std::uint64_t TEXT_END = UINT64_MAX;
// Bytes read at a time while looking for the line break that ends a piece.
constexpr std::size_t SEAM_SEARCH = 4096;
constexpr std::size_t SEAM_SEARCH_MOST = 64 * 1024;
// A piece's page is held in memory only until the pieces before it are
// placed in the page, and then goes on straight into the file; one that
// outgrows this many pieces' worth of memory waits for them. The memory is
// faulted in only as far as pages are held: faulting it all in at the
// start, even as one huge page, held up both threads for a third of a
// millisecond.
constexpr std::size_t HELD_PIECES = 4;
// How much of that memory is faulted in at a time, in one call where the
// system allows: 16 pages faulted in one by one cost two to three times as
// long, and each is a page fault.
constexpr std::size_t HELD_FAULT_STEP = 64 * 1024;
// Pieces a thread may have taken and not yet seen placed.
constexpr std::size_t SLOTS_PER_THREAD = 2;
constexpr std::size_t THREADS = 2;
// How long a thread that must wait for the other first keeps asking. The
// wait is seldom longer than a piece's conversion, and a virtual machine may
// take milliseconds to wake a core that has gone to sleep.
constexpr std::chrono::microseconds SPIN_FOR{3000};
using Clock = std::chrono::steady_clock;
// How long the other thread's piece, the next to be placed, may go without
// a read or a write before a thread waiting for it converts it itself and
// goes on alone: at least this long, and as long as the waiting thread's
// own last piece took. A conversion that runs reads or writes every few
// dozen microseconds; one that does not has lost its core to another
// program, or its thread is not running.
constexpr std::chrono::microseconds TAKE_OVER_AFTER{250};

// What the pieces up to one left to the next.
struct Done {
  RowState state;
  std::uint64_t page_end = 0;
  bool text_ended = false;  // at a Ctrl-Z, the export's end or a failed read
};

// A piece taken by a thread, and the memory its page is held in.
struct Slot {
  std::uint64_t number = 0, begin = 0, end = 0;
  bool busy = false;      // taken, not yet placed
  bool finished = false;  // converted, waiting to be placed
  // How the conversion from the assumed start ended.
  RowState state;
  std::uint64_t length = 0;
  bool text_ended = false;
  // Placed during the conversion, once its page outgrew the memory.
  bool placed = false;
  bool valid = false;
  // Taken over by the other thread, which converts the piece itself: what
  // this conversion still reads and writes no longer counts.
  std::atomic<bool> abandoned{false};
  // Counts the conversion's reads and writes: the other thread takes the
  // piece over only where it stands still.
  std::atomic<std::uint32_t> progress{0};
  Done before;
  // The page, until placed: memory of HELD_PIECES pieces.
  char* held = nullptr;
  std::size_t held_size = 0;
  std::size_t held_faulted = 0;  // how much of the memory is faulted in
};

// How the pieces are converted.
struct Settings {
  BlockPath path;
  std::size_t piece_size, source_buffer, output_buffer;
  RowState first;  // where the rows stand at the first piece
};

class Pieces;
void convert_piece(Pieces& pieces, Slot& slot, RowState& state);

// What the threads share: the export and the page, each read or written by
// one thread at a time, the order of the pieces, and the place of each in
// the page once the pieces before it are placed.
class Pieces {
 public:
  // `held` has room for every slot's page.
  Pieces(const Settings& settings, SourceFile& source, std::uint64_t text_at, std::uint64_t size,
         PageFile& page, std::uint64_t page_at, char* held)
      : settings_(settings), source_(source), size_(size), page_(page), cursor_(text_at) {
    last_.state = settings.first;
    last_.page_end = page_at;
    for (Slot& slot : slots_) {
      slot.held = held;
      held += held_capacity();
    }
  }

  static std::size_t held_size(std::size_t piece_size) {
    return THREADS * SLOTS_PER_THREAD * HELD_PIECES * piece_size;
  }
  std::size_t held_capacity() const { return HELD_PIECES * settings_.piece_size; }

  const Settings& settings() const { return settings_; }
  std::uint64_t size() const { return size_; }

  // One of the thread's slots once it is free; null once the text is all
  // given out. The slot then holds the next piece, in the export's order.
  Slot* take(std::size_t thread) {
    Slot* slot = nullptr;
    bool alone = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        if (stopped_ || retired_[thread]) return nullptr;
        for (std::size_t i = 0; i < SLOTS_PER_THREAD && slot == nullptr; ++i) {
          Slot& s = slots_[thread * SLOTS_PER_THREAD + i];
          if (!s.busy) slot = &s;
        }
        if (slot != nullptr) {
          alone = retired_[(thread + 1) % THREADS];
          break;
        }
        wait_or_take_over(lock, thread);
      }
    }
    {
      const std::lock_guard<std::mutex> lock(take_mutex_);
      if (cursor_ >= size_) return nullptr;  // TEXT_END too
      slot->begin = cursor_;
      // Alone, a thread takes the rest at once, sparing each piece's cost.
      cursor_ = alone ? TEXT_END : seam_after(cursor_ + settings_.piece_size);
      slot->end = cursor_;
      const std::lock_guard<std::mutex> slots(mutex_);
      slot->number = next_++;
      slot->busy = true;
      slot->finished = false;
    }
    slot->placed = slot->valid = false;
    slot->held_size = 0;
    return slot;
  }

  std::ptrdiff_t read(char* data, std::size_t n, std::uint64_t offset) {
    const std::lock_guard<std::mutex> lock(source_mutex_);
    const std::ptrdiff_t got = source_.read(data, n, offset);
    if (got < 0) read_failed_ = true;
    return got;
  }
  // For the slot's piece: nothing once the piece is taken over.
  bool write_page(const Slot& slot, const char* data, std::size_t n, std::uint64_t offset) {
    const std::lock_guard<std::mutex> lock(page_mutex_);
    if (slot.abandoned.load(std::memory_order_acquire)) return true;
    if (!page_.write_at(data, n, offset)) write_failed_ = true;
    return !write_failed_;
  }
  bool read_page(char* data, std::size_t n, std::uint64_t offset) {
    const std::lock_guard<std::mutex> lock(page_mutex_);
    return page_.read_at(data, n, offset);
  }

  // Places the slot once the pieces before it are placed, waiting for them
  // where they are not yet: for a page that outgrew its memory, or one that
  // may_place() says can go straight into the file. Nothing where the piece
  // is taken over meanwhile.
  void place_now(Slot& slot) {
    Done before;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (published_.load(std::memory_order_relaxed) != slot.number) {
        if (slot.abandoned.load(std::memory_order_relaxed)) return;
        wait_or_take_over(lock, owner(slot));
      }
      before = last_;
    }
    place_held(slot, before);
  }

  // Whether the pieces before the slot's are placed, so that its page can
  // go straight into the file from now on.
  bool may_place(const Slot& slot) const {
    return published_.load(std::memory_order_acquire) == slot.number;
  }

  // The slot's piece is converted: places it, and the pieces after it that
  // are converted too, where the pieces before are placed already;
  // otherwise leaves it to be placed after the piece before it. `took` is
  // how long its conversion took the thread.
  void finish(Slot& slot, std::size_t thread, Clock::duration took) {
    std::unique_lock<std::mutex> lock(mutex_);
    piece_time_[thread] = std::chrono::duration_cast<std::chrono::microseconds>(took);
    if (slot.abandoned.load(std::memory_order_relaxed)) {
      // The other thread placed it.
      slot.abandoned.store(false, std::memory_order_relaxed);
      slot.busy = false;
      return;
    }
    slot.finished = true;
    place_from(lock, &slot);
  }

  // Once every thread is done.
  const Done& last() const { return last_; }
  bool read_failed() const { return read_failed_; }
  bool write_failed() const { return write_failed_; }

 private:
  // Whether the slot's piece, converted from outside quotes (the first
  // piece: from where the rows stood), holds where the pieces before ended.
  static bool stands(const Slot& slot) {
    return !slot.before.text_ended && (slot.number == 0 || !slot.before.state.quoted);
  }

  // Gives the slot its place after `before`, and writes the page it holds
  // there if the piece holds where the pieces before ended.
  void place_held(Slot& slot, const Done& before) {
    slot.before = before;
    slot.placed = true;
    slot.valid = stands(slot);
    if (slot.valid) write_page(slot, slot.held, slot.held_size, before.page_end);
  }

  // Places a converted piece after `before`: writes its page there, or
  // converts it again from where the rows really stand.
  Done place(Slot& slot, const Done& before) {
    if (!slot.placed) place_held(slot, before);
    if (before.text_ended) return before;
    if (!slot.valid) {
      RowState state = before.state;
      slot.valid = true;
      convert_piece(*this, slot, state);
    }
    return Done{.state = slot.state,
                .page_end = before.page_end + slot.length,
                .text_ended = slot.text_ended};
  }

  // Places `next` and the converted pieces after it, from where the pieces
  // before are placed; with the lock held.
  void place_from(std::unique_lock<std::mutex>& lock, Slot* next) {
    while (next != nullptr && next->finished &&
           published_.load(std::memory_order_relaxed) == next->number) {
      const Done before = last_;
      lock.unlock();
      const Done done = place(*next, before);
      lock.lock();
      next->busy = next->finished = false;
      publish(next->number, done);
      next = slot_numbered(next->number + 1);
    }
  }

  void publish(std::uint64_t number, const Done& done) {
    last_ = done;
    if (done.text_ended) stopped_ = true;
    published_.store(number + 1, std::memory_order_release);
    changed_.notify_all();
  }

  // Until the next piece is placed, or until `until` where that comes first;
  // with the lock held. False where nothing was placed.
  bool wait(std::unique_lock<std::mutex>& lock,
            Clock::time_point until = Clock::time_point::max()) {
    const std::uint64_t seen = published_.load(std::memory_order_acquire);
    const auto placed = [&] { return published_.load(std::memory_order_acquire) != seen; };
    lock.unlock();
    const auto spin_until = std::min(until, Clock::now() + SPIN_FOR);
    while (!placed() && Clock::now() < spin_until) std::this_thread::yield();
    lock.lock();
    if (until == Clock::time_point::max()) {
      changed_.wait(lock, placed);
      return true;
    }
    return changed_.wait_until(lock, until, placed);
  }

  // The other thread's piece, the next to place, while it is converted;
  // null where the next piece is not that.
  Slot* others_next(std::size_t thread) {
    Slot* const other = slot_numbered(published_.load(std::memory_order_relaxed));
    if (other == nullptr || other->finished || owner(*other) == thread ||
        other->abandoned.load(std::memory_order_relaxed)) {
      return nullptr;
    }
    return other;
  }

  // Until the next piece is placed, with the lock held. Where that is the
  // other thread's and its conversion reads and writes nothing for longer
  // than a piece takes, converts the piece itself instead.
  void wait_or_take_over(std::unique_lock<std::mutex>& lock, std::size_t thread) {
    Slot* const other = others_next(thread);
    if (other == nullptr) {
      wait(lock);
      return;
    }
    const std::uint32_t progress = other->progress.load(std::memory_order_relaxed);
    const auto patience = std::max(TAKE_OVER_AFTER, piece_time_[thread]);
    if (!wait(lock, Clock::now() + patience) && others_next(thread) == other &&
        other->progress.load(std::memory_order_relaxed) == progress) {
      take_over(lock, *other);
    }
  }

  // Converts the other thread's piece `other`, the next to place, from
  // where the rows stand, and lets the other thread take no more: on a
  // loaded machine one core alone is faster than two waiting for each
  // other. With the lock held.
  void take_over(std::unique_lock<std::mutex>& lock, Slot& other) {
    const std::uint64_t number = other.number;
    other.abandoned.store(true, std::memory_order_release);
    retired_[owner(other)] = true;
    // Placed, but converted from no state yet: place() converts it from
    // where the rows stand, as it does a piece that started in quotes.
    Slot own;
    own.number = number;
    own.begin = other.begin;
    own.end = other.end;
    own.placed = true;
    own.before = last_;
    lock.unlock();
    const Done done = place(own, own.before);
    lock.lock();
    publish(number, done);
    place_from(lock, slot_numbered(number + 1));
  }

  std::size_t owner(const Slot& slot) const {
    return static_cast<std::size_t>(&slot - slots_.data()) / SLOTS_PER_THREAD;
  }

  Slot* slot_numbered(std::uint64_t number) {
    for (Slot& s : slots_) {
      if (s.busy && s.number == number) return &s;
    }
    return nullptr;
  }

  // Where a piece that reaches `from` at least ends: after the next line
  // break that more text follows, unless that starts with a byte-order mark.
  // With no such line break within SEAM_SEARCH_MOST or a piece's size, the
  // piece takes the rest of the text: a line that long has no end worth
  // looking for, and an export of one line is read once, not twice.
  std::uint64_t seam_after(std::uint64_t from) {
    std::uint64_t at = from - 1;
    const std::uint64_t give_up = from + std::max(settings_.piece_size, SEAM_SEARCH_MOST);
    for (;;) {
      if (at >= give_up) return TEXT_END;
      std::ptrdiff_t got = read(scan_.data(), scan_.size(), at);
      if (got <= 0) return TEXT_END;
      const std::string_view bytes(scan_.data(), static_cast<std::size_t>(got));
      const std::size_t stop = bytes.find_first_of(std::string_view("\n\x1A", 2));
      if (stop == std::string_view::npos) {
        at += bytes.size();
        continue;
      }
      if (bytes[stop] == CTRL_Z) return TEXT_END;
      const std::uint64_t after = at + stop + 1;
      char next = 0;
      if (stop + 1 < bytes.size()) {
        next = bytes[stop + 1];
      } else if (got = read(&next, 1, after); got <= 0) {
        return TEXT_END;
      }
      if (next == CTRL_Z) return TEXT_END;
      if (next != MARK_START) return after;
      at = after;
    }
  }

  const Settings settings_;
  SourceFile& source_;
  const std::uint64_t size_;
  PageFile& page_;
  std::mutex source_mutex_, page_mutex_;
  bool read_failed_ = false;   // under source_mutex_
  bool write_failed_ = false;  // under page_mutex_

  std::mutex take_mutex_;
  std::uint64_t cursor_;
  std::uint64_t next_ = 0;
  std::array<char, SEAM_SEARCH> scan_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::array<Slot, THREADS * SLOTS_PER_THREAD> slots_;
  // The pieces placed, changed under mutex_; a thread converting the next
  // piece, or waiting for a slot, reads it without.
  std::atomic<std::uint64_t> published_{0};
  Done last_;
  bool stopped_ = false;
  std::array<bool, THREADS> retired_{};                          // takes no more pieces
  std::array<std::chrono::microseconds, THREADS> piece_time_{};  // the last piece's
};

// One piece of the export as a file: its bytes [begin, end), up to a Ctrl-Z.
// It ends at once when the piece's page turns out to be dropped.
class PieceSource final : public SourceFile {
 public:
  PieceSource(Pieces& pieces, Slot& slot)
      : pieces_(pieces), slot_(slot), begin_(slot.begin), end_(std::min(slot.end, pieces.size())) {}

  std::ptrdiff_t read(char* data, std::size_t n, std::uint64_t offset) override {
    slot_.progress.fetch_add(1, std::memory_order_relaxed);
    if (ended_ || (slot_.placed && !slot_.valid) ||
        slot_.abandoned.load(std::memory_order_relaxed)) {
      return 0;
    }
    const std::uint64_t at = begin_ + offset;
    if (at >= end_) {
      // A piece that reaches the end of the file ends the text there.
      text_ended_ = end_ == pieces_.size();
      return 0;
    }
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, end_ - at));
    std::ptrdiff_t got = pieces_.read(data, n, at);
    if (got <= 0) {
      // A failed read, or a file that ended early: the text ends here.
      ended_ = text_ended_ = true;
      return got;
    }
    if (const void* z = std::memchr(data, CTRL_Z, static_cast<std::size_t>(got))) {
      got = static_cast<const char*>(z) - data;
      ended_ = text_ended_ = true;
    }
    return got;
  }
  bool rewind() override { return false; }
  bool same_file_as(const std::string&) const override { return false; }
  std::int64_t size() const override { return static_cast<std::int64_t>(end_ - begin_); }

  bool text_ended() const { return text_ended_; }

 private:
  Pieces& pieces_;
  Slot& slot_;
  const std::uint64_t begin_, end_;
  bool ended_ = false;
  bool text_ended_ = false;
};

// A piece's page: held in the slot's memory until placed, then written in
// the page where the pieces before ended, or dropped where the piece did
// not start as its conversion assumed.
class PiecePage final : public PageFile {
 public:
  PiecePage(Pieces& pieces, Slot& slot) : pieces_(pieces), slot_(slot) {}

  bool write_at(const char* data, std::size_t n, std::uint64_t offset) override {
    slot_.progress.fetch_add(1, std::memory_order_relaxed);
    if (slot_.abandoned.load(std::memory_order_relaxed)) return true;
    // Placed as soon as the pieces before it are, the page is held in
    // memory only while the piece before it is still being converted.
    if (!slot_.placed && pieces_.may_place(slot_)) pieces_.place_now(slot_);
    if (!slot_.placed) {
      const std::size_t capacity = pieces_.held_capacity();
      if (offset <= capacity && n <= capacity - offset) {
        fault_in_held(offset + n);
        std::memcpy(slot_.held + offset, data, n);
        slot_.held_size = std::max(slot_.held_size, static_cast<std::size_t>(offset + n));
        return true;
      }
      pieces_.place_now(slot_);
    }
    if (!slot_.valid) return true;
    return pieces_.write_page(slot_, data, n, slot_.before.page_end + offset);
  }
  bool read_at(char* data, std::size_t n, std::uint64_t offset) override {
    if (slot_.abandoned.load(std::memory_order_relaxed)) {
      std::memset(data, '>', n);
      return true;
    }
    if (!slot_.placed) {
      if (offset > slot_.held_size || n > slot_.held_size - offset) return false;
      std::memcpy(data, slot_.held + offset, n);
      return true;
    }
    if (slot_.valid) return pieces_.read_page(data, n, slot_.before.page_end + offset);
    // A page that is dropped reads as ">", where a link's walk back stops at
    // once: the conversion, which is about to end, goes on as it would over
    // a page it could read, and no link it writes reaches further back.
    std::memset(data, '>', n);
    return true;
  }
  bool close() override { return true; }
  std::uint64_t origin() const override {
    return slot_.placed && slot_.valid ? slot_.before.page_end : 0;
  }

 private:
  // Faults the slot's memory in up to `end` at least, a step at a time, as
  // the page held there grows; a slot's memory serves all its pieces.
  void fault_in_held(std::size_t end) {
    if (end <= slot_.held_faulted) return;
    const std::size_t upto = std::min(
        pieces_.held_capacity(), (end + HELD_FAULT_STEP - 1) / HELD_FAULT_STEP * HELD_FAULT_STEP);
    fault_in(slot_.held + slot_.held_faulted, upto - slot_.held_faulted);
    slot_.held_faulted = upto;
  }

  Pieces& pieces_;
  Slot& slot_;
};

// The first HELD_FAULT_STEP boundary at or after `data`.
char* step_aligned(char* data) {
  const std::size_t past = reinterpret_cast<std::uintptr_t>(data) % HELD_FAULT_STEP;
  return past == 0 ? data : data + (HELD_FAULT_STEP - past);
}

// Converts the slot's piece from `state` into its page, and records how it
// ended.
void convert_piece(Pieces& pieces, Slot& slot, RowState& state) {
  const Settings& settings = pieces.settings();
  auto file = std::make_unique<PieceSource>(pieces, slot);
  PieceSource& piece = *file;
  SourceStream source(std::move(file), settings.source_buffer);
  OutputStream output(std::make_unique<PiecePage>(pieces, slot), settings.output_buffer);
  output.expect_at_least(static_cast<std::uint64_t>(piece.size()));
  convert_rows(source, output, settings.path, state);
  slot.length = output.mark();
  output.close();
  slot.state = state;
  slot.text_ended = piece.text_ended();
}

// Takes pieces and converts them until there are none left, each as if the
// rows stood outside quotes at its start. The pieces are placed in the page
// in order by whichever thread has the piece before placed; one that turns
// out to start in quotes is converted again then.
void convert_pieces(Pieces& pieces, std::size_t thread) {
  while (Slot* slot = pieces.take(thread)) {
    RowState state = pieces.settings().first;
    if (slot->number > 0) state = RowState{.quoted = false, .previous = LF};
    const auto start = Clock::now();
    convert_piece(pieces, *slot, state);
    pieces.finish(*slot, thread, Clock::now() - start);
  }
}

}  // namespace

bool convert_rows_in_pieces(SourceStream& source, OutputStream& output, BlockPath path,
                            std::size_t piece_size, RowState& state) {
  if (piece_size == NO_PIECES) return false;
  const std::int64_t size = source.file_size();
  if (size < 0 || static_cast<std::uint64_t>(size) / PIECES_FROM < piece_size) return false;
  // A piece's stream would take a mark there for the file's own.
  const std::string_view ahead = source.buffered();
  if (ahead.empty() || ahead[0] == MARK_START) return false;

  const Settings settings{.path = path,
                          .piece_size = piece_size,
                          .source_buffer = source.buffer_size(),
                          .output_buffer = output.buffer_size(),
                          .first = state};
  // Each slot's memory starts on a step's boundary, so that every step
  // faults whole pages in.
  const std::unique_ptr<char[]> held(
      new (std::nothrow) char[Pieces::held_size(piece_size) + HELD_FAULT_STEP]);
  if (!held) return false;
  PageFile* const page = output.file_for_pieces();
  if (page == nullptr) return false;
  const std::uint64_t text_at = source.offset();
  Pieces pieces(settings, source.file_for_pieces(), text_at, static_cast<std::uint64_t>(size),
                *page, output.mark(), step_aligned(held.get()));
  SideThread second;
  // Alone where no second thread can be started: the second's slots stay
  // free.
  (void)second.start([&pieces] { convert_pieces(pieces, 1); });
  convert_pieces(pieces, 0);
  second.join();

  state = pieces.last().state;
  source.pieces_read(pieces.read_failed());
  output.pieces_written(pieces.last().page_end, pieces.write_failed());
  return true;
}

}  // namespace quillantrex
