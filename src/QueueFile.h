// The on-disk event queue: a ring buffer of 4-byte big-endian
// length-prefixed elements behind a 16-byte big-endian header (file length, element count,
// first position, last position), updated in place so that accepted events survive a crash.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace CorvaneSDK {

class RandomAccessFile;

// Thread contract: no lock; one thread at a time (the queue manager calls it under its
// queue mutex).
//
// Crash safety: every change is ordered so that the header write commits it. Element bytes
// go into free space before the header names them, a removal rewrites the header before it
// zeroes the freed bytes, and an expansion copies the wrapped bytes behind the old end
// before the header names the new length. A process killed between any two writes leaves a
// file whose header describes consistent data.
//
// Failures: every mutating call returns false when any underlying I/O fails. From then on
// the object refuses writes (Add and Remove return false) until the next Init, and its
// in-memory header equals the last header that reached the file (a failed Add or expansion
// leaves Count, First, Last and FileLength as they were unless the new header was written).
// A failed Remove(Count()) has already deleted the file: the object is then closed with
// count 0 and file length 0.
//
// Memory mapping: a file whose header validates is mapped shared, its blocks reserved
// first, with address space to grow into (up to 64 MiB) so that a growth keeps the mapping
// and the pages already in it. An add is a copy and a 16-byte header store with no system
// call, and a full
// disk shows up when the ring grows (the reservation fails) rather than as a fault on a
// store. The stores keep the order above, so a killed process leaves the same bytes as with
// positioned writes. Where the mapping cannot be had, positioned writes are used, with an
// Info line. The fault injector sees every load and store as the read or write it replaces.
class QueueFile {
 public:
  static constexpr uint32_t kHeaderLength = 16;
  static constexpr uint32_t kInitialLength = 4096;
  // Largest element length accepted by Add and by the start-up reader: 16 MiB. An event is
  // compact JSON, and a batch is capped at 475000 bytes, so nothing legitimate comes near
  // it; a larger stored length is corruption, and the bound caps what a corrupt file can
  // make the reader allocate.
  static constexpr uint32_t kMaxElementLength = 16u * 1024u * 1024u;
  // Largest file length: 1 GiB (4096 doubled 18 times). The 32-bit length field could only
  // double once more before it wraps; a queue this large means uploads have stopped for a
  // long time, so the manager trims the oldest events (CanAdd) instead of growing further.
  static constexpr uint32_t kMaxFileLength = 1u << 30;

  struct Element {
    uint32_t position;  // 0 = none
    uint32_t length;    // data bytes, without the 4-byte prefix
  };

  // Stores the UTF-8 path; no file access. `maxFileLength` (a power of two from 4096 to
  // kMaxFileLength) exists for tests of the size bound.
  explicit QueueFile(std::string path, uint32_t maxFileLength = kMaxFileLength);
  ~QueueFile();
  QueueFile(const QueueFile&) = delete;
  QueueFile& operator=(const QueueFile&) = delete;

  // Opens the file, creating it with the fresh 4096-byte image when missing (or when it
  // exists with size 0, the trace of a crash right after creation), and reads the header.
  // Returns false when the open, the fresh image write or the 16-byte header read fails.
  // Returns true for any complete header, even a corrupt one: call ValidateHeader before
  // trusting it. A corrupt header is never used for I/O and the object refuses writes.
  bool Init();
  // After a failed Init: true when the file could not be opened or created at all (nothing
  // was read), false when it was opened but its header is missing or short.
  bool OpenFailed() const { return openFailed_; }

  // Checks the header against the file before it is trusted. Corruption: a file length
  // below 4096, not 4096 times a power of two, or above the maximum; a file longer than its
  // stored length is fine (the trace of an interrupted expansion), a shorter one only
  // while every live byte lies inside it (a writer that extends lazily); a zero count with
  // a non-zero position or the reverse; positions outside [16, file length); more elements
  // than 4-byte prefixes fit; a first or last length that is 0, above kMaxElementLength,
  // beyond the used bytes or unreadable; a one-element queue whose first and last differ.
  // Writes the reason to *why (may be null) when it returns false.
  bool ValidateHeader(std::string* why) const;

  // Reads Count() elements from First() in order into `out` (cleared first). Stops at the
  // first corrupt element (a length of 0 or above the bounds, a short read, or a chain that
  // does not end at Last()) and returns false, keeping the elements read before it.
  bool ReadAll(std::vector<std::string>& out, std::string* why);

  // Recovery of a damaged file: reads, from First() on and at most Count() of them, every
  // element that fits the ring of the header's file length, ignoring Last() and the
  // validation, and stops at the first that does not (a length of 0 or above the bounds,
  // more bytes than the ring holds, or a read past the end of the file). Needs only an
  // opened file with a usable file length and first position; returns what it kept.
  std::vector<std::string> Salvage();

  // Appends one element. False without writing when the object cannot write, the length is
  // 0 (the manager treats an empty element as corruption) or the data is null, or CanAdd is
  // false; false after a failed write (see the class comment).
  bool Add(const char* data, uint32_t length);
  // Whether Add(data, length) could fit: the object can write, 0 < length <=
  // kMaxElementLength, and the file needs to grow no further than the maximum length.
  bool CanAdd(uint32_t length) const;

  // Drops the min(n, Count()) oldest elements and zeroes their bytes; removing every element
  // deletes the file and recreates it as a fresh image. Remove(0) and Remove on an empty
  // queue change nothing and return true while the object can write.
  bool Remove(uint32_t n);

  // Reads the element at `position`: its 4-byte length, then the data at the wrapped
  // position + 4. False on a short read or when the position or length is outside the
  // bounds (nothing is allocated for an out-of-bounds length). `length` may be null.
  bool ReadElement(uint32_t position, std::string& data, uint32_t* length);

  uint32_t Count() const { return count_; }
  uint32_t FileLength() const { return fileLength_; }
  Element First() const { return first_; }
  Element Last() const { return last_; }
  uint32_t Wrap(uint64_t position) const;
  uint64_t UsedBytes() const;
  uint64_t RemainingBytes() const;

  // Growth ahead of need, so that an add rarely pays for it. While the ring is more than
  // half full, GrowthToPrepare gives the doubled length (0 otherwise, or when not mapped, or
  // at the maximum or beyond the mapped range). Another thread may then allocate and bring
  // in that range (RandomAccessFile::PrepareGrowth on SyncTarget()), and report it here with
  // GrowthPrepared, which ignores a report about a file since replaced. ExpandAhead doubles
  // the ring now when the prepared range covers it and at most `maxCopy` wrapped bytes must
  // move (CanExpandAhead); true when it did. An add that needs growth still grows as before.
  uint64_t GrowthToPrepare() const;
  // File ranges that hold ring bytes [position, position + len) (len below the ring's data
  // length): one, or two where they wrap. Returns how many it wrote to `out`.
  struct Range {
    uint64_t from, to;
  };
  int RingRanges(uint64_t position, uint64_t len, Range out[2]) const;
  // Where the next element goes.
  uint64_t NextPosition() const;
  uint64_t PreparedLength() const { return backed_; }
  // Longest length growth may be prepared to: the mapped range, at most the maximum length.
  uint64_t PreparableLength() const;
  void GrowthPrepared(const std::shared_ptr<RandomAccessFile>& target, uint64_t length);
  bool CanExpandAhead(uint64_t maxCopy) const;
  bool ExpandAhead(uint64_t maxCopy);

  // Flushes and closes. False when the flush or close failed; the object is closed anyway.
  bool Close();
  bool IsOpen() const;
  // False after a failed write or with a corrupt header, until the next Init.
  bool Writable() const;
  // What failed last since Init ("element write", "header write", ...); empty when nothing.
  const std::string& LastFailure() const { return lastFailure_; }
  const std::string& Path() const { return path_; }
  // Whether the file is written through a memory mapping now.
  bool Mapped() const;
  // The file that Remove(Count()) replaced, still open (and mapped) when it was mapped, for
  // the owner to release after its locks; null when none. Released with this object too.
  std::shared_ptr<RandomAccessFile> TakeRetired() { return std::move(retired_); }
  // The open file for a data sync from another thread (RandomAccessFile::SyncData), or null.
  std::shared_ptr<RandomAccessFile> SyncTarget() const { return file_; }

 private:
  struct Header {
    uint32_t fileLength;
    uint32_t count;
    uint32_t firstPosition;
    uint32_t lastPosition;
  };

  bool ReadHeader();
  bool WriteHeader(uint32_t fileLength, uint32_t count, uint32_t first, uint32_t last);
  bool WriteFreshImage();
  // Byte access to the file: through the mapping when there is one, else positioned I/O.
  bool Load(uint64_t offset, void* buf, uint64_t len);
  bool Store(uint64_t offset, const void* buf, uint64_t len);
  // Reserves and maps fileLength_ bytes; on failure logs and goes on with positioned I/O.
  void MapFile();
  bool RingRead(uint64_t position, void* buf, uint64_t len);
  bool RingWrite(uint64_t position, const void* buf, uint64_t len);
  bool ReadLengthAt(uint64_t position, uint32_t* length);
  // 0 when the element fits without growth; the new length otherwise; UINT64_MAX when
  // growing past the maximum would be needed.
  uint64_t LengthNeededFor(uint32_t dataLength) const;
  bool ExpandIfNecessary(uint32_t dataLength);
  // Grows the ring to `newLength`; `elementLength` is the add that needs it, 0 ahead of need.
  bool ExpandTo(uint64_t newLength, uint64_t elementLength);
  bool RemoveAll();
  // Marks the object failed (refusing writes) and logs at Debug; returns false. The owner
  // decides what a failure means and logs it for the user.
  bool Fail(const char* what);

  std::string path_;
  uint32_t maxFileLength_;
  std::shared_ptr<RandomAccessFile> file_;
  std::shared_ptr<RandomAccessFile> retired_;  // see TakeRetired
  char* map_ = nullptr;  // file_'s mapping (fileLength_ bytes, or more as room), or null
  // While mapped: the bytes from the start known to be inside the file with their blocks
  // allocated, so stores below it cannot fault; at least fileLength_.
  uint64_t backed_ = 0;
  uint32_t fileLength_ = 0;
  uint32_t count_ = 0;
  Element first_{0, 0};
  Element last_{0, 0};
  bool failed_ = false;        // an I/O failure happened since Init
  bool openFailed_ = false;
  std::string lastFailure_;
  bool corrupt_ = false;       // the header read by Init did not validate
  bool firstReadable_ = true;  // the first element's length could be read at Init
  bool lastReadable_ = true;
  std::unique_ptr<char[]> scratch_;  // 4096 bytes, for the expansion copy
  std::string joined_;               // prefix + data of one element up to 64 KiB, reused
};

}  // namespace CorvaneSDK
