#include "trafficlog/log_file.h"

#include <cerrno>
#include <memory>
#include <new>
#include <utility>

namespace portwick {

namespace {
bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }
bool SpliceRefused(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }
}  // namespace

LogFile::LogFile(LogFileAccess* access, std::string name, LogLossCounter* losses)
    : access_(access),
      name_(std::move(name)),
      losses_(losses),
      next_check_(std::chrono::steady_clock::now() + kRotationCheckInterval) {
  // The file is created by the first record, not before; an existing one is
  // opened now, while descriptors are to be had.
  FileIdentity existing;
  if (!name_.empty() && access_->IdentifyName(name_, &existing)) Open();
  if (fd_ < 0) TakeSpare();
}

LogFile::~LogFile() {
  CloseLog();
  GiveBackSpare();
}

bool LogFile::Append(const char* data, size_t length) {
  if (fd_ < 0 || reopen_) {
    if (!Open()) {
      CountLoss(Status::Kind::kOpen, "open", errno, length);
      return false;
    }
  }
  while (length > 0) {
    const ssize_t written = access_->Write(fd_, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      // A write that makes no progress would make this loop spin.
      const int error = written == 0 ? EIO : errno;
      CountLoss(Status::Kind::kOther, "write", error, length);
      // The next record opens the file again (a FIFO's new reader, a file
      // system that came back).
      CloseLog();
      TakeSpare();
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

LogFile::PipeAppend LogFile::AppendFromPipe(int pipe_fd, size_t length) {
  if (fd_ < 0 || reopen_) {
    if (!Open()) {
      CountLoss(Status::Kind::kOpen, "open", errno, length);
      return PipeAppend::kLost;
    }
  }
  if (splice_refused_) return PipeAppend::kRefused;
  bool moved_any = false;
  while (length > 0) {
    const ssize_t moved = access_->SpliceToEnd(fd_, pipe_fd, length);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0 && SpliceRefused(errno)) {
      splice_refused_ = true;
      if (!moved_any) return PipeAppend::kRefused;
      // Refused halfway (the file was replaced meanwhile): the rest goes
      // right after the part moved.
      return AppendCopiedFromPipe(pipe_fd, length) ? PipeAppend::kWritten : PipeAppend::kLost;
    }
    if (moved <= 0) {
      // As Append: the rest of the record is lost, the next one opens the
      // file again.
      CountLoss(Status::Kind::kOther, "write", moved == 0 ? EIO : errno, length);
      CloseLog();
      TakeSpare();
      return PipeAppend::kLost;
    }
    moved_any = true;
    length -= static_cast<size_t>(moved);
  }
  return PipeAppend::kWritten;
}

bool LogFile::ReadPipeRecord(LogFileAccess* access, LogLossCounter* losses, int pipe_fd, char* data,
                             size_t length) {
  size_t taken = 0;
  while (taken < length) {
    const ssize_t n = access->ReadPipe(pipe_fd, data + taken, length - taken);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n == 0 ? EIO : errno;
      if (losses != nullptr)
        losses->Count(Status::Error(Status::Kind::kOther, "read", error), 1, length);
      return false;
    }
    taken += static_cast<size_t>(n);
  }
  return true;
}

bool LogFile::AppendCopiedFromPipe(int pipe_fd, size_t length) {
  // The whole record at once, so that a failing write counts it as Append
  // counts a copied one.
  const std::unique_ptr<char[]> record(new (std::nothrow) char[length]);
  if (record == nullptr) {
    CountLoss(Status::Kind::kOther, "memory", ENOMEM, length);
    return false;
  }
  return ReadPipeRecord(access_, losses_, pipe_fd, record.get(), length) &&
         Append(record.get(), length);
}

size_t LogFile::AppendRecords(const LogRecord* records, size_t count) {
  // Pieces per writev: the system's limit is 1024.
  constexpr int kMaxPieces = 256;
  const auto length_of = [records](size_t i) { return static_cast<size_t>(records[i].length); };
  size_t written_whole = 0;
  size_t index = 0;
  size_t offset = 0;  // bytes of records[index] already written
  while (index < count) {
    if (length_of(index) == 0) {  // nothing to write
      ++written_whole;
      ++index;
      continue;
    }
    if (fd_ < 0 || reopen_) {
      if (!Open()) {
        CountLoss(Status::Kind::kOpen, "open", errno, length_of(index) - offset);
        ++index;
        offset = 0;
        continue;
      }
    }
    WritePiece pieces[kMaxPieces];
    int used = 0;
    for (size_t i = index; i < count && used < kMaxPieces; ++i) {
      const size_t skip = i == index ? offset : 0;
      pieces[used].data = records[i].data + skip;
      pieces[used].length = length_of(i) - skip;
      ++used;
    }
    const ssize_t written = access_->WriteVector(fd_, pieces, used);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written == 0 ? EIO : errno;
      CountLoss(Status::Kind::kOther, "write", error, length_of(index) - offset);
      CloseLog();
      TakeSpare();
      ++index;
      offset = 0;
      continue;
    }
    // Moves past what was written, record by record.
    size_t left = static_cast<size_t>(written);
    while (left > 0) {
      const size_t rest = length_of(index) - offset;
      if (left < rest) {
        offset += left;
        break;
      }
      left -= rest;
      ++written_whole;
      ++index;
      offset = 0;
    }
  }
  return written_whole;
}

void LogFile::CheckRotation(std::chrono::steady_clock::time_point now) {
  if (now < next_check_) return;
  next_check_ = now + kRotationCheckInterval;
  if (fd_ < 0 || reopen_) return;
  FileIdentity named;
  FileIdentity open;
  if (!access_->IdentifyName(name_, &named) || !access_->IdentifyOpen(fd_, &open) ||
      !(named == open)) {
    reopen_ = true;
  }
}

bool LogFile::Open() {
  int fd = access_->OpenForAppend(name_);
  if (fd < 0 && OutOfDescriptors(errno) && (spare_fd_ >= 0 || fd_ >= 0)) {
    // At the process's limit: give back the descriptor in hand and try
    // again in its place.
    if (spare_fd_ >= 0) {
      GiveBackSpare();
    } else {
      CloseLog();
    }
    fd = access_->OpenForAppend(name_);
  }
  if (fd < 0) {
    const int error = errno;
    // Records must not go on into a file that was rotated or removed.
    CloseLog();
    if (spare_fd_ < 0) TakeSpare();
    errno = error;
    return false;
  }
  CloseLog();
  GiveBackSpare();
  fd_ = fd;
  reopen_ = false;
  splice_refused_ = false;
  return true;
}

void LogFile::CloseLog() {
  if (fd_ >= 0) access_->Close(fd_);
  fd_ = -1;
}

void LogFile::TakeSpare() {
  if (spare_fd_ < 0) spare_fd_ = OpenSpareDescriptor();
}

void LogFile::GiveBackSpare() {
  CloseSpareDescriptor(spare_fd_);
  spare_fd_ = -1;
}

void LogFile::CountLoss(Status::Kind kind, const char* step, int error, size_t bytes) {
  if (losses_ != nullptr) losses_->Count(Status::Error(kind, step, error), 1, bytes);
}

}  // namespace portwick
