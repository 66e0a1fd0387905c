// QueueFile: ring reads and writes, expansion, add, remove and the header, laid out byte
// for byte as the format requires, plus the start-up validation and the I/O failure
// handling that the format leaves open.
#include "QueueFile.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <utility>

#include "FileIO.h"
#include "Logger.h"

namespace CorvaneSDK {
namespace {

constexpr uint64_t kChunk = 4096;           // largest single copy or zeroing write
constexpr uint32_t kJoinLimit = 64 * 1024;  // largest element copied to join its prefix
constexpr uint64_t kTooLarge = std::numeric_limits<uint64_t>::max();
// Address space mapped up front, so that growth within it needs no new mapping: twice the
// manager's byte bound covers every ring it can need.
constexpr uint64_t kMapReserve = 64u * 1024u * 1024u;
const unsigned char kZeros[kChunk] = {};

void PutBE32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

uint32_t GetBE32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

bool IsPowerOfTwo(uint64_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

bool SetWhy(std::string* why, std::string reason) {
  if (why != nullptr) *why = std::move(reason);
  return false;
}

}  // namespace

QueueFile::QueueFile(std::string path, uint32_t maxFileLength)
    : path_(std::move(path)),
      maxFileLength_(maxFileLength >= kInitialLength && maxFileLength <= kMaxFileLength &&
                             IsPowerOfTwo(maxFileLength)
                         ? maxFileLength
                         : kMaxFileLength),
      scratch_(new char[kChunk]) {}

QueueFile::~QueueFile() = default;

bool QueueFile::IsOpen() const {
  return file_ != nullptr && file_->IsOpen();
}

bool QueueFile::Writable() const {
  return IsOpen() && !failed_ && !corrupt_ && fileLength_ >= kInitialLength;
}

bool QueueFile::Mapped() const {
  return IsOpen() && map_ != nullptr;
}

bool QueueFile::Load(uint64_t offset, void* buf, uint64_t len) {
  if (map_ == nullptr || offset + len > backed_) {
    return file_->ReadAt(offset, buf, static_cast<size_t>(len));
  }
  if (detail::ShouldFailFileOp(FileOp::Read, path_)) return false;
  std::memcpy(buf, map_ + offset, static_cast<size_t>(len));
  return true;
}

bool QueueFile::Store(uint64_t offset, const void* buf, uint64_t len) {
  if (map_ == nullptr || offset + len > backed_) {
    return file_->WriteAt(offset, buf, static_cast<size_t>(len));
  }
  if (detail::ShouldFailFileOp(FileOp::Write, path_)) return false;
  // A killed process keeps every store made before it died; the stores of one change must
  // reach the pages in program order (the header commits last).
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(map_ + offset, buf, static_cast<size_t>(len));
  std::atomic_signal_fence(std::memory_order_seq_cst);
  return true;
}

void QueueFile::MapFile() {
  map_ = nullptr;
  backed_ = 0;
  if (file_ == nullptr || !Writable()) return;
  // A file shorter than its length is written in place: mapping it would first allocate
  // every byte its header claims.
  if (file_->Size() < static_cast<int64_t>(fileLength_)) return;
  // Blocks first (an earlier writer may have left holes): a store into a page the disk
  // cannot hold would be a fault, not an error.
  if (!file_->Reserve(fileLength_)) {
    CORVANE_LOG_INFO("Queue file " << path_ << " cannot reserve " << fileLength_ << " bytes ("
                                   << LastFileErrorText() << "); using positioned writes");
    return;
  }
  // Room to grow into first; where the address space is short, the file alone.
  const uint64_t room = std::min<uint64_t>(kMapReserve, maxFileLength_);
  map_ = file_->Map(std::max<uint64_t>(fileLength_, room));
  if (map_ == nullptr) map_ = file_->Map(fileLength_);
  if (map_ == nullptr) {
    CORVANE_LOG_INFO("Queue file " << path_ << " cannot be memory-mapped ("
                                   << LastFileErrorText() << "); using positioned writes");
    return;
  }
  backed_ = fileLength_;
  // The header page takes a store at every add: bring it in now rather than at the first.
  file_->Prefault(0, kInitialLength);
}

bool QueueFile::Fail(const char* what) {
  if (!failed_) CORVANE_LOG_DEBUG("Queue file " << what << " failed");
  lastFailure_ = path_ + ": " + LastFileErrorText();
  failed_ = true;
  return false;
}

// ---- Init, header, close ----

bool QueueFile::Init() {
  if (file_ != nullptr) Close();
  map_ = nullptr;
  failed_ = false;
  corrupt_ = false;
  openFailed_ = false;
  lastFailure_.clear();
  fileLength_ = 0;
  count_ = 0;
  first_ = {0, 0};
  last_ = {0, 0};

  bool created = false;
  file_ = RandomAccessFile::Open(path_, true, &created);
  if (file_ == nullptr) {
    openFailed_ = true;
    CORVANE_LOG_ERROR("Failed to open queue file " << path_ << ": " << LastFileErrorText());
    CORVANE_LOG_DEBUG("Open failed due to file stream issue");
    return false;
  }
  // An existing empty file can only be a crash between creating the file and writing its
  // image: it holds no events, so it is initialised like a new one.
  if (!created && file_->Size() == 0) created = true;
  if (created && !WriteFreshImage()) {
    // Nothing was there to read: for the owner this is a file it cannot open.
    openFailed_ = true;
    CORVANE_LOG_ERROR("Failed to write the new queue file " << path_ << ": " << LastFileErrorText());
    file_.reset();
    return false;
  }
  if (!ReadHeader()) {
    CORVANE_LOG_ERROR("Failed to read the queue file header of " << path_ << ": "
                                                                 << LastFileErrorText());
    file_.reset();
    fileLength_ = 0;
    return false;
  }
  MapFile();
  return true;
}

bool QueueFile::WriteFreshImage() {
  unsigned char image[kInitialLength] = {};
  PutBE32(image, kInitialLength);
  return file_->WriteAt(0, image, sizeof(image));
}

bool QueueFile::ReadHeader() {
  unsigned char h[kHeaderLength];
  if (!Load(0, h, sizeof(h))) return false;
  fileLength_ = GetBE32(h);
  count_ = GetBE32(h + 4);
  first_ = {GetBE32(h + 8), 0};
  last_ = {GetBE32(h + 12), 0};
  firstReadable_ = true;
  lastReadable_ = true;
  // The element lengths are read only where the header's geometry makes a ring read
  // meaningful; anything else is left to ValidateHeader to report.
  const bool geometry = fileLength_ >= kInitialLength && fileLength_ <= maxFileLength_;
  if (first_.position != 0) {
    firstReadable_ = geometry && first_.position >= kHeaderLength &&
                     first_.position < fileLength_ && ReadLengthAt(first_.position, &first_.length);
  }
  if (last_.position != 0) {
    lastReadable_ = geometry && last_.position >= kHeaderLength && last_.position < fileLength_ &&
                    ReadLengthAt(last_.position, &last_.length);
  }
  std::string why;
  corrupt_ = !ValidateHeader(&why);
  if (corrupt_) CORVANE_LOG_WARNING("Queue file header is corrupt: " << why);
  return true;
}

bool QueueFile::WriteHeader(uint32_t fileLength, uint32_t count, uint32_t first, uint32_t last) {
  unsigned char h[kHeaderLength];
  PutBE32(h, fileLength);
  PutBE32(h + 4, count);
  PutBE32(h + 8, first);
  PutBE32(h + 12, last);
  return Store(0, h, sizeof(h));
}

bool QueueFile::Close() {
  map_ = nullptr;
  if (file_ == nullptr) return true;
  bool ok = file_->Flush();
  ok = file_->Close() && ok;
  file_.reset();
  return ok;
}

bool QueueFile::ValidateHeader(std::string* why) const {
  if (!IsOpen()) return SetWhy(why, "the queue file is not open");
  const uint64_t length = fileLength_;
  if (length < kInitialLength) {
    return SetWhy(why, "file length " + std::to_string(length) + " is below 4096");
  }
  if (!IsPowerOfTwo(length)) {
    return SetWhy(why, "file length " + std::to_string(length) +
                           " is not 4096 doubled a whole number of times");
  }
  if (length > maxFileLength_) {
    return SetWhy(why, "file length " + std::to_string(length) + " is above the maximum " +
                           std::to_string(maxFileLength_));
  }
  const int64_t real = file_->Size();
  if (real < static_cast<int64_t>(kHeaderLength)) {
    return SetWhy(why, "the file size cannot be read or is below the header");
  }
  const uint64_t realSize = static_cast<uint64_t>(real);
  const uint64_t fp = first_.position, lp = last_.position;
  const uint64_t fl = first_.length, ll = last_.length;
  if (count_ == 0) {
    if (fp != 0 || lp != 0) return SetWhy(why, "an empty queue with a non-zero position");
    return true;
  }
  if (fp == 0 || lp == 0) return SetWhy(why, "a non-empty queue with a zero position");
  if (fp < kHeaderLength || fp >= length || lp < kHeaderLength || lp >= length) {
    return SetWhy(why, "first position " + std::to_string(fp) + " or last position " +
                           std::to_string(lp) + " outside [16, " + std::to_string(length) + ")");
  }
  if (uint64_t{count_} * 4 > length - kHeaderLength) {
    return SetWhy(why, "element count " + std::to_string(count_) + " cannot fit the file");
  }
  if (!firstReadable_ || !lastReadable_) {
    return SetWhy(why, "the first or last element length cannot be read");
  }
  if (fl == 0 || ll == 0) return SetWhy(why, "an element length of 0");
  if (fl > kMaxElementLength || ll > kMaxElementLength) {
    return SetWhy(why, "an element length above " + std::to_string(kMaxElementLength));
  }
  if ((count_ == 1) != (fp == lp)) {
    return SetWhy(why, "first and last positions disagree with the count");
  }
  const uint64_t used = UsedBytes();
  if (used > length) {
    return SetWhy(why, "used bytes " + std::to_string(used) + " exceed the file length");
  }
  const uint64_t area = used - kHeaderLength;
  if (4 + fl > area || 4 + ll > area || (count_ >= 2 && 8 + fl + ll > area) ||
      uint64_t{count_} * 5 > area) {
    return SetWhy(why, "element lengths beyond the used bytes");
  }
  if (lp > fp && fp + 4 + fl > lp) return SetWhy(why, "the first element overlaps the last");
  // Live bytes must exist: a wrapped ring reaches the end of the ring area, an unwrapped one
  // the end of its last element. A writer may extend the file lazily, so a file shorter than
  // its length is fine as long as no live byte lies past its end.
  const uint64_t endOfLast = lp + 4 + ll;
  const uint64_t liveEnd = (lp < fp || endOfLast > length) ? length : endOfLast;
  if (realSize < liveEnd) {
    return SetWhy(why, "live data ends at " + std::to_string(liveEnd) + " but the file has " +
                           std::to_string(realSize) + " bytes");
  }
  return true;
}

// ---- ring geometry ----

uint32_t QueueFile::Wrap(uint64_t position) const {
  return static_cast<uint32_t>(position < fileLength_ ? position
                                                      : kHeaderLength + position - fileLength_);
}

uint64_t QueueFile::UsedBytes() const {
  if (count_ == 0) return kHeaderLength;
  const uint64_t fp = first_.position, lp = last_.position;
  if (lp >= fp) return lp - fp + 4 + last_.length + kHeaderLength;
  return lp + 4 + last_.length + fileLength_ - fp;
}

uint64_t QueueFile::RemainingBytes() const {
  const uint64_t used = UsedBytes();
  return used >= fileLength_ ? 0 : fileLength_ - used;
}

bool QueueFile::RingRead(uint64_t position, void* buf, uint64_t len) {
  const uint64_t length = fileLength_;
  if (file_ == nullptr || length < kInitialLength || len > length - kHeaderLength) return false;
  const uint64_t p = Wrap(position);
  if (p < kHeaderLength || p >= length) return false;
  char* out = static_cast<char*>(buf);
  if (p + len > length) {
    const uint64_t head = length - p;
    return Load(p, out, head) && Load(kHeaderLength, out + head, len - head);
  }
  return Load(p, out, len);
}

bool QueueFile::RingWrite(uint64_t position, const void* buf, uint64_t len) {
  const uint64_t length = fileLength_;
  if (file_ == nullptr || length < kInitialLength || len > length - kHeaderLength) return false;
  const uint64_t p = Wrap(position);
  if (p < kHeaderLength || p >= length) return false;
  const char* in = static_cast<const char*>(buf);
  if (p + len > length) {
    const uint64_t head = length - p;
    return Store(p, in, head) && Store(kHeaderLength, in + head, len - head);
  }
  return Store(p, in, len);
}

bool QueueFile::ReadLengthAt(uint64_t position, uint32_t* length) {
  unsigned char b[4];
  if (!RingRead(position, b, sizeof(b))) return false;
  *length = GetBE32(b);
  return true;
}

// ---- add and expansion ----

uint64_t QueueFile::LengthNeededFor(uint32_t dataLength) const {
  if (fileLength_ < kInitialLength) return kTooLarge;
  const uint64_t need = uint64_t{dataLength} + 4;
  uint64_t remaining = RemainingBytes();
  if (remaining >= need) return 0;
  uint64_t length = fileLength_;
  while (remaining < need) {
    remaining += length;
    length *= 2;
    if (length > maxFileLength_) return kTooLarge;
  }
  return length;
}

bool QueueFile::CanAdd(uint32_t length) const {
  return Writable() && length > 0 && length <= kMaxElementLength &&
         LengthNeededFor(length) != kTooLarge;
}

bool QueueFile::ExpandIfNecessary(uint32_t dataLength) {
  const uint64_t newLength = LengthNeededFor(dataLength);
  if (newLength == 0) return true;
  if (newLength == kTooLarge) return false;
  return ExpandTo(newLength, uint64_t{dataLength} + 4);
}

uint64_t QueueFile::GrowthToPrepare() const {
  if (!Writable() || map_ == nullptr || RemainingBytes() * 2 >= fileLength_) return 0;
  const uint64_t next = uint64_t{fileLength_} * 2;
  if (next > maxFileLength_ || next > file_->MappedSize()) return 0;
  return next;
}

uint64_t QueueFile::PreparableLength() const {
  return map_ == nullptr ? 0 : std::min<uint64_t>(maxFileLength_, file_->MappedSize());
}

int QueueFile::RingRanges(uint64_t position, uint64_t len, Range out[2]) const {
  if (fileLength_ < kInitialLength || len == 0) return 0;
  len = std::min<uint64_t>(len, fileLength_ - kHeaderLength);
  const uint64_t p = Wrap(position);
  if (p < kHeaderLength || p >= fileLength_) return 0;
  if (p + len <= fileLength_) {
    out[0] = {p, p + len};
    return 1;
  }
  out[0] = {p, fileLength_};
  out[1] = {kHeaderLength, kHeaderLength + len - (fileLength_ - p)};
  return 2;
}

uint64_t QueueFile::NextPosition() const {
  return count_ == 0 ? kHeaderLength : Wrap(uint64_t{last_.position} + 4 + last_.length);
}

void QueueFile::GrowthPrepared(const std::shared_ptr<RandomAccessFile>& target, uint64_t length) {
  if (target != file_ || map_ == nullptr || !Writable()) return;
  if (length > backed_ && length <= file_->MappedSize()) backed_ = length;
}

bool QueueFile::CanExpandAhead(uint64_t maxCopy) const {
  const uint64_t next = GrowthToPrepare();
  if (next == 0 || next > backed_) return false;
  const uint64_t endOfLast = Wrap(uint64_t{last_.position} + 4 + last_.length);
  const uint64_t wrapped = first_.position >= endOfLast ? endOfLast - kHeaderLength : 0;
  return wrapped <= maxCopy;
}

bool QueueFile::ExpandAhead(uint64_t maxCopy) {
  return CanExpandAhead(maxCopy) && ExpandTo(uint64_t{fileLength_} * 2, 0);
}

bool QueueFile::ExpandTo(uint64_t newLength, uint64_t elementLength) {
  const uint64_t oldLength = fileLength_;
  if (elementLength > 0) {
    CORVANE_LOG_DEBUG("Expand: previousLength=" << oldLength << ", elementLength=" << elementLength
                                                << ", remainingBytes=" << RemainingBytes());
  } else {
    CORVANE_LOG_DEBUG("Expand ahead: previousLength=" << oldLength
                                                      << ", remainingBytes=" << RemainingBytes());
  }
  // The file gets its full new size, with its blocks reserved, first (unless a growth
  // prepared ahead reserved them already), so that a finished expansion always leaves the
  // file at least as long as its header says (a crash before the header write only leaves an
  // unused tail, which the next expansion reuses), and so that a full disk fails here rather
  // than on a store into the mapping.
  if (map_ == nullptr || newLength > backed_) {
    if (!file_->Reserve(newLength)) return Fail("expansion");
  }
  if (map_ != nullptr && newLength > file_->MappedSize()) {
    map_ = file_->Map(newLength);
    if (map_ == nullptr) {
      CORVANE_LOG_INFO("Queue file " << path_ << " cannot be mapped again at " << newLength
                                     << " bytes (" << LastFileErrorText()
                                     << "); using positioned writes");
    }
  }
  if (map_ != nullptr) backed_ = std::max(backed_, newLength);

  const uint64_t fp = first_.position, lp = last_.position;
  const uint64_t endOfLast = Wrap(lp + 4 + last_.length);
  if (fp >= endOfLast) {
    // The live data wraps: move the wrapped part behind the old end, so that it continues
    // contiguously from there.
    uint64_t toCopy = endOfLast - kHeaderLength;
    uint64_t from = kHeaderLength;
    uint64_t to = oldLength;
    while (toCopy > 0) {
      const size_t chunk = static_cast<size_t>(std::min(toCopy, kChunk));
      if (!Load(from, scratch_.get(), chunk) || !Store(to, scratch_.get(), chunk)) {
        return Fail("expansion copy");
      }
      from += chunk;
      to += chunk;
      toCopy -= chunk;
    }
  }
  uint32_t newLast = last_.position;
  if (lp < fp) newLast = static_cast<uint32_t>(oldLength + lp - kHeaderLength);
  if (!WriteHeader(static_cast<uint32_t>(newLength), count_, first_.position, newLast)) {
    return Fail("expansion header write");
  }
  last_.position = newLast;
  fileLength_ = static_cast<uint32_t>(newLength);
  return true;
}

bool QueueFile::Add(const char* data, uint32_t length) {
  if (data == nullptr || !CanAdd(length)) return false;
  if (!ExpandIfNecessary(length)) return false;
  const bool wasEmpty = count_ == 0;
  const uint32_t position =
      wasEmpty ? kHeaderLength : Wrap(uint64_t{last_.position} + 4 + last_.length);
  // Prefix and data go out as one ring write (one positioned write, two when it wraps);
  // elements above kJoinLimit, and every element when mapped, are stored in place rather
  // than copied first.
  bool written;
  if (map_ == nullptr && length <= kJoinLimit) {
    joined_.resize(4 + size_t{length});
    PutBE32(reinterpret_cast<unsigned char*>(&joined_[0]), length);
    std::memcpy(&joined_[4], data, length);
    written = RingWrite(position, joined_.data(), joined_.size());
  } else {
    unsigned char prefix[4];
    PutBE32(prefix, length);
    written = RingWrite(position, prefix, sizeof(prefix)) &&
              RingWrite(uint64_t{position} + 4, data, length);
  }
  if (!written) return Fail("element write");
  if (!WriteHeader(fileLength_, count_ + 1, wasEmpty ? position : first_.position, position)) {
    return Fail("header write");
  }
  last_ = {position, length};
  ++count_;
  if (wasEmpty) first_ = last_;
  if (!file_->Flush()) return Fail("flush");
  return true;
}

// ---- remove ----

bool QueueFile::Remove(uint32_t n) {
  if (!Writable()) return false;
  n = std::min(n, count_);
  if (n == 0) return true;
  if (n == count_) return RemoveAll();

  const uint64_t budget = UsedBytes() - kHeaderLength;
  uint64_t erase = 0;
  uint64_t position = first_.position;
  uint32_t length = first_.length;
  for (uint32_t i = 0; i < n; ++i) {
    erase += 4 + uint64_t{length};
    position = Wrap(position + 4 + length);
    if (!ReadLengthAt(position, &length)) return Fail("element length read");
    if (length == 0 || length > kMaxElementLength || erase + 4 + length > budget) {
      return Fail("removal (corrupt element chain)");
    }
  }
  if (!WriteHeader(fileLength_, count_ - n, static_cast<uint32_t>(position), last_.position)) {
    return Fail("header write");
  }
  const uint64_t oldFirst = first_.position;
  count_ -= n;
  first_ = {static_cast<uint32_t>(position), length};

  uint64_t at = oldFirst;
  while (erase > 0) {
    const uint64_t chunk = std::min(erase, kChunk);
    if (!RingWrite(at, kZeros, chunk)) return Fail("zeroing of freed bytes");
    at = Wrap(at + chunk);
    erase -= chunk;
  }
  if (!file_->Flush()) return Fail("flush");
  return true;
}

bool QueueFile::RemoveAll() {
  // Whatever happens below, the old elements are no longer described by this object.
  // A failed flush or close is ignored: the handle is released either way and the file is
  // about to be deleted.
  // A mapped file is unlinked while still open, and closed and unmapped by whoever takes it
  // (TakeRetired), outside its locks: the last close of a large file frees its blocks.
  // Elsewhere (Windows) an open file cannot be deleted, so it is closed first.
  const bool retire = map_ != nullptr;
  map_ = nullptr;
  file_->Flush();
  if (retire) {
    retired_ = std::move(file_);
  } else {
    file_->Close();
  }
  file_.reset();
  fileLength_ = 0;
  count_ = 0;
  first_ = {0, 0};
  last_ = {0, 0};
  if (!RemoveFile(path_)) return Fail("delete before recreation");
  bool created = false;
  file_ = RandomAccessFile::Open(path_, true, &created);
  if (file_ == nullptr) return Fail("recreation");
  if (!WriteFreshImage() || !ReadHeader() || !file_->Flush()) {
    file_.reset();
    fileLength_ = 0;
    count_ = 0;
    first_ = {0, 0};
    last_ = {0, 0};
    return Fail("recreation");
  }
  MapFile();
  return true;
}

// ---- reading ----

bool QueueFile::ReadElement(uint32_t position, std::string& data, uint32_t* length) {
  data.clear();
  if (length != nullptr) *length = 0;
  if (!IsOpen() || corrupt_ || fileLength_ < kInitialLength) return false;
  if (position < kHeaderLength || position >= fileLength_) return false;
  uint32_t len = 0;
  if (!ReadLengthAt(position, &len)) return false;
  if (len > kMaxElementLength || uint64_t{len} + 4 > fileLength_ - kHeaderLength) return false;
  std::string bytes(len, '\0');
  if (len > 0 && !RingRead(uint64_t{position} + 4, &bytes[0], len)) return false;
  data.swap(bytes);
  if (length != nullptr) *length = len;
  return true;
}

bool QueueFile::ReadAll(std::vector<std::string>& out, std::string* why) {
  out.clear();
  if (!ValidateHeader(why)) return false;
  uint64_t budget = UsedBytes() - kHeaderLength;
  uint64_t position = first_.position;
  for (uint32_t i = 0; i < count_; ++i) {
    // Built only for a report: the loop runs once per queued event at start-up.
    auto at = [&] { return "element " + std::to_string(i) + " at " + std::to_string(position); };
    const bool isLast = i + 1 == count_;
    if (isLast != (position == last_.position)) {
      return SetWhy(why, at() + ": the chain disagrees with the last position " +
                             std::to_string(last_.position));
    }
    uint32_t len = 0;
    if (!ReadLengthAt(position, &len)) return SetWhy(why, at() + ": its length cannot be read");
    if (len == 0) return SetWhy(why, at() + ": length 0");
    if (len > kMaxElementLength || 4 + uint64_t{len} > budget) {
      return SetWhy(why, at() + ": length " + std::to_string(len) + " beyond the used bytes");
    }
    if (isLast && len != last_.length) {
      return SetWhy(why, at() + ": length disagrees with the last element");
    }
    std::string data(len, '\0');
    if (!RingRead(position + 4, &data[0], len)) return SetWhy(why, at() + ": short read");
    out.push_back(std::move(data));
    budget -= 4 + uint64_t{len};
    position = Wrap(position + 4 + len);
  }
  return true;
}

std::vector<std::string> QueueFile::Salvage() {
  std::vector<std::string> out;
  const uint64_t length = fileLength_;
  if (!IsOpen() || length < kInitialLength || length > maxFileLength_ || !IsPowerOfTwo(length) ||
      first_.position < kHeaderLength || first_.position >= length) {
    return out;
  }
  // The ring cannot hold more than this, whatever the count says.
  uint64_t budget = length - kHeaderLength;
  uint64_t position = first_.position;
  for (uint32_t i = 0; i < count_; ++i) {
    uint32_t len = 0;
    if (!ReadLengthAt(position, &len)) break;
    if (len == 0 || len > kMaxElementLength || 4 + uint64_t{len} > budget) break;
    std::string data(len, '\0');
    if (!RingRead(position + 4, &data[0], len)) break;
    out.push_back(std::move(data));
    budget -= 4 + uint64_t{len};
    position = Wrap(position + 4 + len);
  }
  return out;
}

}  // namespace CorvaneSDK
