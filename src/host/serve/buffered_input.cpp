#include "host/serve/buffered_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace nimbra {

BufferedInput::BufferedInput(ByteSource source, size_t bufferSize)
    : source_(std::move(source)), buffer_(bufferSize) {}

bool BufferedInput::refill() {
  if (sourceEnded_ || lastError_ != 0) return false;
  begin_ = end_ = 0;
  const ssize_t got = source_(buffer_.data(), buffer_.size());
  if (got < 0) {
    lastError_ = errno != 0 ? errno : EIO;
    return false;
  }
  if (got == 0) {
    sourceEnded_ = true;
    return false;
  }
  end_ = static_cast<size_t>(got);
  return true;
}

BufferedInput::Status BufferedInput::readExact(size_t count, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  size_t missing = count;
  while (missing > 0) {
    if (begin_ < end_) {
      const size_t take = std::min(missing, end_ - begin_);
      out.insert(out.end(), buffer_.begin() + static_cast<ptrdiff_t>(begin_),
                 buffer_.begin() + static_cast<ptrdiff_t>(begin_ + take));
      begin_ += take;
      missing -= take;
      continue;
    }
    if (missing >= buffer_.size() && !sourceEnded_ && lastError_ == 0) {
      // Large remainder: read into the destination directly. It grows by what has arrived so
      // far (at least a buffer's worth), so storage stays within twice the data received.
      const size_t step = std::min(missing, std::max(buffer_.size(), out.size() - start));
      const size_t filled = out.size();
      out.resize(filled + step);
      const ssize_t got = source_(out.data() + filled, step);
      if (got <= 0) {
        out.resize(filled);
        if (got < 0) {
          lastError_ = errno != 0 ? errno : EIO;
        } else {
          sourceEnded_ = true;
        }
        break;
      }
      out.resize(filled + static_cast<size_t>(got));
      missing -= static_cast<size_t>(got);
      continue;
    }
    if (!refill()) break;
  }
  if (missing == 0) return Status::ok;
  return lastError_ != 0 ? Status::failed : Status::end;
}

BufferedInput::Status BufferedInput::readLine(std::string& line, size_t maxLength) {
  line.clear();
  bool sawByte = false;
  while (true) {
    if (begin_ == end_ && !refill()) {
      if (lastError_ != 0) return Status::failed;
      return sawByte ? Status::ok : Status::end;
    }
    sawByte = true;
    const uint8_t* start = buffer_.data() + begin_;
    const size_t available = end_ - begin_;
    const void* newline = std::memchr(start, '\n', available);
    const size_t take =
        newline ? static_cast<size_t>(static_cast<const uint8_t*>(newline) - start) : available;
    if (line.size() + take > maxLength) {
      line.clear();
      skipRestOfLine();
      return Status::tooLong;
    }
    line.append(reinterpret_cast<const char*>(start), take);
    begin_ += take;
    if (newline) {
      ++begin_;
      return Status::ok;
    }
  }
}

void BufferedInput::skipRestOfLine() {
  while (begin_ < end_ || refill()) {
    const uint8_t* start = buffer_.data() + begin_;
    const void* newline = std::memchr(start, '\n', end_ - begin_);
    if (newline) {
      begin_ += static_cast<size_t>(static_cast<const uint8_t*>(newline) - start) + 1;
      return;
    }
    begin_ = end_;
  }
}

bool BufferedInput::atEnd() {
  if (begin_ < end_) return false;
  return !refill() && lastError_ == 0;
}

}  // namespace nimbra
